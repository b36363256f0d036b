// Firmware upgrade of the SubG board from image files in the working
// directory. A thread of its own looks for the files, reads them and runs
// the procedure; for the exchange with the board's boot loader it borrows
// the serial port from the listener, which waits meanwhile.
#pragma once

constexpr const char* kRejectedImageSuffix = ".rejected";
constexpr const char* kFailedImageSuffix = ".failed";
// Attempts that leave an image behind before it is set aside.
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

// The upgrade thread.
void* SubGUpgradeTh(void*);
