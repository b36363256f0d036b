// Firmware upgrade of the SubG board from image files in the working
// directory. A thread of its own looks for the files, reads them and runs
// the procedure; for the exchange with the board's boot loader it borrows
// the serial port from the listener, which waits meanwhile.
#pragma once

#include <cstdint>

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
// whatever the outcome. True when the image was sent and activated and the
// board restarted: whether it runs the image is told by its versions.
bool ProcessFWUpgrade(int serialFd);

// After an activation: logs "Image activated!!!" and returns true once a
// version record stored after the first recordsBefore ones names the
// image's version (the application's or the boot loader's, after action).
// A record naming another version may be an old one still on its way; only
// when none names the image within waitMicros is it an error line.
bool ConfirmActivation(int action, uint32_t imageVersion, uint64_t recordsBefore, int waitMicros);

// One round of the upgrade thread: looks for an image and, when there is
// one, runs it through the board with the port borrowed from the listener.
void UpgradeRound();

// The upgrade thread.
void* SubGUpgradeTh(void*);
