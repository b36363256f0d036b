// Firmware upgrade of the SubG board from image files in the working
// directory. A thread of its own looks for the files, reads them and runs
// the procedure; for the exchange with the board's boot loader it borrows
// the serial port from the listener, which waits meanwhile.
#pragma once

// Attempts that leave an image behind before it is set aside. A round in
// which the port was not lent in time is no attempt.
constexpr int kMaxFailedAttempts = 3;
// Line numbers are 16 bits on the wire.
constexpr int kMaxImageLines = 65536;

// Whether an installation image can be sent at all, told before the board
// is touched.
enum class ImageCheck { kGood, kUnreadable, kEmpty, kLineTooLong, kTooManyLines };
ImageCheck CheckImageLines(const char* path);

// Runs the whole procedure for the image CheckForUpdateFile found, over
// serialFd, which the caller has to itself; returns when it is over,
// whatever the outcome.
void ProcessFWUpgrade(int serialFd);

// One round of the upgrade thread: looks for an image and, when there is
// one, runs it through the board with the port borrowed from the listener.
void UpgradeRound();

// The upgrade thread.
void* SubGUpgradeTh(void*);
