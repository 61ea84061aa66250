// The known routines of the game's rally.exe, what replaces them, and the order of attempts.
#pragma once

#include <cstdint>

// Build A's whole VGA palette reader: reads 768 bytes of the DAC through ports 0x3C7/0x3C9.
extern const uint8_t PalettePatternA[39];
// The same routine as build B has it (one saved register fewer), with the four fill bytes after it.
extern const uint8_t PalettePatternB[39];
// Build A's entry and exit without the port accesses, then the marker "QUORVANT" behind the return.
extern const uint8_t PaletteReplacement[39];
// The end of build B's routine that answers 1 for every platform id but VER_PLATFORM_WIN32_WINDOWS.
extern const uint8_t PlatformPattern[26];
// The same end answering 0 always, with its exit kept in place.
extern const uint8_t PlatformReplacement[26];

// Where the marker stands in PaletteReplacement.
constexpr uint32_t kMarkerOffset = 16;

enum class PatchOutcome { Applied, AlreadyApplied, NotFound };

bool ApplyBuildA(const char* path);
bool ApplyBuildB(const char* path);
PatchOutcome RunPatchRecipe(const char* path);
