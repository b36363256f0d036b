// The local CSV logs as files: opened in LogDir (the activity log at the
// path given with -f, if any), each row written whole and flushed. A log is
// appended to, its header written only into a new or empty file. Every
// stream has a lock of its own, so the console may open and close the RSSI
// and PER test logs while the parser writes to them. A closed log skips its
// rows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tags/csv_rows.h"

// Tag messages since the PER test log was last opened.
extern std::atomic<uint32_t> PacketCounter;

// The parser thread's logs, opened at its start: tags' activity, the
// board's diagnostics and the tags' diagnostics, in this order. A failed
// open is not retried.
void OpenTagsActFile();
void OpenDiagFile();
void OpenTagDiagFile();
void OpenParserLogs();

// The console's logs. Opening closes the log's previous file first;
// closing returns fclose's result, 0 when it was not open.
void OpenRSSIFile();
int CloseRSSIFile();
void OpenPERTestFile();  // also restarts PacketCounter
int ClosePERTest();

bool CsvLogOpen(CsvLog log);

// The parser's rows: formatted while it holds TxMutex, and written once it
// has let go of it, so that the serial path never waits on the disk. Parser
// thread only; the order of the rows is kept.
void QueueCsvRow(CsvLog log, std::string row);
void WriteQueuedCsvRows();

// Writes the row if the log is open. The tags' parameters, MEMS calculation,
// raw data and RSSI logs are opened by their first row (and tried again at
// the next one when that fails).
void WriteCsvRow(CsvLog log, const std::string& row);

// Every open log whose file has reached maxBytes goes on in a new file,
// named for the present minute; the old file is closed and kept. For the
// logs' size limit, from a thread that may wait on the disk.
void RollOverCsvLogs(long long maxBytes);
