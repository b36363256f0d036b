// Firmware image files for the SubG board, dropped into the working
// directory: what a name asks for, the version it carries, and the frame
// that carries one line of an image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "subg/frame.h"

// What the image file asks for (ImgAction).
enum ImageAction : int {
    kNoImageAction = 0,
    kInstallApplication = 1,
    kDeactivateApplication = 2,
    kInstallBootLoader = 3,
    kDeactivateBootLoader = 4,
};

constexpr int kImageNameSize = 256;  // 255 characters and the terminator
// An image line travels behind the line number and a flag byte.
constexpr int kImageLineHeader = 3;
constexpr int kMaxImageLineChars = kMaxFrameData - kImageLineHeader;

// The upgrade thread's own: the image chosen by the last search.
extern int ImgAction;
extern uint32_t ImageVersion;
extern char FW_File_name[kImageNameSize];

// The prefixes that carry a version: the board's application and boot
// loader images, and the host application's signature file.
constexpr char kAppImagePrefix[] = "RD2_A_01_";
constexpr char kLoaderImagePrefix[] = "RD2_L_01_";
constexpr char kHostImagePrefix[] = "RD1_A_01_";

// The version encoded in a name after "RD2_A_01_", "RD2_L_01_" or
// "RD1_A_01_": four two-digit decimal numbers, the first in the top byte.
// -1 when the name carries none.
int GetImageVersion(const char* name);

// What a name asks for when it is an image's: an image prefix, the eight
// decimal digits of its version, then nothing or one extension (".hex").
// kNoImageAction for any other name.
ImageAction ImageActionOfName(const char* name);

// Images set aside keep their name behind a leading word, so that no image
// prefix matches them again: "rejected_" when the file cannot be sent (its
// version cannot be read, a line does not fit a frame), "failed_" when it
// failed its attempts.
constexpr const char* kRejectedImageMark = "rejected_";
constexpr const char* kFailedImageMark = "failed_";
// Renames the image name in the working directory to mark + name; false
// with errno set when it could not be renamed.
bool SetImageAside(const char* name, const char* mark);

// Looks for an image in the working directory: a regular file with an
// image's name. 1 with ImgAction, FW_File_name and ImageVersion set when
// one is there. A file that begins with an image prefix but carries no
// readable version is set aside on the way.
int CheckForUpdateFile();

bool IsInstallAction(int action);

// The request for image line lineNumber (counting from 0) of n characters,
// its line ending included; n is at most kMaxImageLineChars.
T7734FrameRequest ImageLineRequest(uint8_t address, uint16_t lineNumber, const char* chars, size_t n);
