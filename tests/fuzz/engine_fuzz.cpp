// Any file contents, with the known blocks planted or not: after a run the file has its former
// length and differs only inside at most one 39-byte block and one 26-byte block, each where a
// pattern stood and now holding its replacement; the outcome is what the bytes say, as the
// reference model tells.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/reference_model.h"

namespace {

constexpr size_t kLargestFile = 16 * 1024;

std::string GamePath() {
    static std::string path = [] {
        char pattern[] = "/tmp/quorvant-fuzz-XXXXXX";
        return std::string(mkdtemp(pattern)) + "/rally.exe";
    }();
    return path;
}

bool Holds(const std::vector<uint8_t>& bytes, size_t at, const uint8_t* block, size_t length) {
    return at + length <= bytes.size() && std::equal(block, block + length, bytes.begin() + at);
}

// The places where a pattern stood before and its replacement stands now.
std::vector<size_t> Rewritten(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                              std::initializer_list<const uint8_t*> patterns, const uint8_t* replacement,
                              size_t length) {
    std::vector<size_t> places;
    for (size_t at = 0; at + length <= before.size(); ++at) {
        for (const uint8_t* pattern : patterns) {
            if (Holds(before, at, pattern, length) && Holds(after, at, replacement, length)) places.push_back(at);
        }
    }
    return places;
}

bool Inside(size_t offset, long start, size_t length) {
    return start >= 0 && offset >= static_cast<size_t>(start) && offset < static_cast<size_t>(start) + length;
}

// Whether every changed byte lies in one rewritten palette block and one rewritten platform block.
bool ChangesConfined(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    std::vector<size_t> changed;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i]) changed.push_back(i);
    }
    if (changed.empty()) return true;
    std::vector<size_t> palettes = Rewritten(before, after, {PalettePatternA, PalettePatternB}, PaletteReplacement, 39);
    std::vector<size_t> platforms = Rewritten(before, after, {PlatformPattern}, PlatformReplacement, 26);
    std::vector<long> paletteChoices(palettes.begin(), palettes.end()), platformChoices(platforms.begin(), platforms.end());
    paletteChoices.push_back(-1);
    platformChoices.push_back(-1);
    for (long palette : paletteChoices) {
        for (long platform : platformChoices) {
            if (std::all_of(changed.begin(), changed.end(),
                            [&](size_t i) { return Inside(i, palette, 39) || Inside(i, platform, 26); })) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One byte says which blocks to plant, two bytes each say where; the rest is the file.
    constexpr size_t kPlan = 1 + 2 * 5;
    if (size < kPlan) return 0;
    std::vector<uint8_t> before(data + kPlan, data + std::min(size, kPlan + kLargestFile));
    for (size_t i = 0; i < 5; ++i) {
        const CatalogueBlock& block = kCatalogueBlocks[i];
        if (!(data[0] & (1 << i)) || before.size() < block.length) continue;
        size_t at = (data[1 + 2 * i] | data[2 + 2 * i] << 8) % (before.size() - block.length + 1);
        if (data[0] & 0x80) at = before.size() - block.length;  // at the very end
        std::copy(block.bytes, block.bytes + block.length, before.begin() + at);
    }
    std::string path = GamePath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(before.data(), 1, before.size(), file);
    std::fclose(file);

    PatchOutcome outcome = RunPatchRecipe(path.c_str());

    std::vector<uint8_t> after(before.size() + 1);
    file = std::fopen(path.c_str(), "rb");
    if (!file) __builtin_trap();
    after.resize(std::fread(after.data(), 1, after.size(), file));
    std::fclose(file);
    if (after.size() != before.size()) __builtin_trap();
    if (!ChangesConfined(before, after)) __builtin_trap();
    std::vector<uint8_t> model = before;
    if (ModelRecipe(model) != outcome || model != after) __builtin_trap();
    return 0;
}
