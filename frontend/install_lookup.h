// Finding the game's executable from the installation record of its setup.
#pragma once

#include "frontend/text.h"

// The value's data is read with a limit of 255 bytes (RegQueryValueExA's size, NUL included when
// the data has one), so at most 255 bytes of it stand before the file name.
constexpr size_t kLongestInstallDirectory = 255;
constexpr char kExecutableName[] = "\\rally.exe";

// The full path of rally.exe, NUL-terminated, in the system code page; empty when the game counts as
// not installed.
struct GamePath {
    char text[kLongestInstallDirectory + TextLength(kExecutableName) + 1];
};
static_assert(sizeof(GamePath::text) == 255 + 10 + 1, "directory, \\rally.exe and the NUL");

GamePath FindGameExecutable();
