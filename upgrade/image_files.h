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

// What a name beginning with an image prefix asks for; kNoImageAction for
// any other name.
ImageAction ImageActionOfName(const char* name);

// Looks for an image in the working directory; 1 with ImgAction,
// FW_File_name and ImageVersion set when one with a version is there.
int CheckForUpdateFile();

bool IsInstallAction(int action);

// The request for image line lineNumber (counting from 0) of n characters,
// its line ending included; n is at most kMaxImageLineChars.
T7734FrameRequest ImageLineRequest(uint8_t address, uint16_t lineNumber, const char* chars, size_t n);
