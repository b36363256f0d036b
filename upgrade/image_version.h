// The version an image or signature file carries in its name: eight
// decimal digits AABBCCDD right after one of the image prefixes.
#pragma once

#include <cstdint>

constexpr char kAppImagePrefix[] = "RD2_A_01_";
constexpr char kLoaderImagePrefix[] = "RD2_L_01_";
constexpr char kHostImagePrefix[] = "RD1_A_01_";

// A << 24 | B << 16 | C << 8 | D, or -1 when the name is too short or
// carries no known prefix.
int GetImageVersion(const char* name);
