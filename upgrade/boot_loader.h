// The synchronous exchange with the SubG board's boot loader (address 1)
// and boot ROM (address 0xFD): write one request, wait for its reply on the
// port, check its opcode, retry. Runs on the upgrade thread while the
// listener has lent it the port.
#pragma once

#include <cstdint>

#include "subg/frame.h"

// The loader's answer to an image line.
enum LOADER_ERR : int {
    LOADER_OK = 0,
    LOADER_WRONG_SUB_UNIT = 1,
    LOADER_WRONG_HEX_FORMAT = 2,
    LOADER_LINE_CHECKSUM = 3,
    LOADER_LINE_LENGTH = 4,
    LOADER_FRAME_ERROR = 5,
    LOADER_ADDRESS_OR_ACTIVE = 6,
    LOADER_FILE_LENGTH = 7,
    LOADER_FILE_CHECKSUM = 8,
    LOADER_READ_CHECKSUM = 9,
    LOADER_WRONG_DEVICE = 10,
};

// The request being sent; address and host byte stay for a whole upgrade.
extern T7734FrameRequest SubGBoardMsg;
// Word 1: line buffer size; word 2: time unit of the first line (ms x 100
// per attempt); word 3: time unit of the following lines.
extern uint32_t CurrLoaderCapabilities[4];
extern int mSerialFD;

// 1 when the reply with the request's opcode came (at once after the write
// when timeoutMs is 0), 0 otherwise. The reply is gathered in the link's
// own buffer, lent with the port.
int WriteAndWaitForReply(int timeoutMs);

int SendStopOnBootRom();
int SendStopOnLoader();
int GetLoaderCapabilities();
void GetListOfLoaders();
// Asks the loader to restart and pulses the reset line in any case.
void SendReset();
int ActivateImage();
int DectivateImage();

// 1 when the boot ROM or the boot loader waits for image lines. 0 when it
// did not answer, or when a deactivation was asked for (done or failed).
int WaitForBootRom();
int WaitForBootLoader();

// The first data byte of the last reply: an image line's LOADER_ERR.
int LoaderReplyStatus();
// The log text of a loader error; any unknown code has one text.
const char* LoaderErrorText(int err);
// Logs the error; error 6 also queues a service-information request, so
// that the board's versions are read again once its application runs.
void PrintErrorReason(int err);

// The capabilities a reply carries: its four words when its length byte is
// above 20, else the defaults.
void CapabilitiesFromReply(const T7734FrameReply& reply, uint32_t capabilities[4]);
void SetDefaultCapabilities();
