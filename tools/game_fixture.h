// Synthetic game executables, shaped like the real rally.exe: an MZ header, a PE header for i386,
// a code section of plausible x86 routines, and the known routines planted at realistic offsets.
// Used by the tests, the end-to-end runs and the demo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class GameKind {
    BuildA,                 // build A's palette routine once
    BuildB,                 // build B's palette routine and its platform tail, once each
    BuildBWithoutPlatform,  // build B's palette routine, no platform tail
    PatchedA,               // build A as a patch leaves it
    PatchedB,               // build B as a patch leaves it
    PatternATwice,          // build A's palette routine at two places
    BothPalettes,           // build A's routine and build B's routine with its tail
    OtherwiseChanged,       // build A's routine with its port accesses removed by other means
    NoBlocks,               // none of the known bytes
};

struct GameImage {
    std::vector<uint8_t> bytes;
    size_t palette = 0;   // where the (first) palette routine stands
    size_t second = 0;    // the second palette routine of PatternATwice and BothPalettes
    size_t platform = 0;  // the platform tail of build B kinds
};

constexpr size_t kGameSize = 3 * 1024 * 1024 + 0x6A00;  // about the game's own size
constexpr size_t kSmallestGame = 64 * 1024;

// size is rounded up to kSmallestGame at the least.
GameImage MakeGame(GameKind kind, size_t size = kGameSize);

// The names the command line and the scripts use: build-a, build-b, build-b-no-platform, patched-a,
// patched-b, pattern-a-twice, both-palettes, otherwise-changed, no-blocks.
bool GameKindNamed(const std::string& name, GameKind* kind);

// Every place where block stands in bytes.
std::vector<size_t> FindAll(const std::vector<uint8_t>& bytes, const uint8_t* block, size_t length);

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadBytes(const std::string& path, std::vector<uint8_t>* bytes);
