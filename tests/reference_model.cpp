#include "tests/reference_model.h"

#include <algorithm>

const CatalogueBlock kCatalogueBlocks[5] = {
    {PalettePatternA, sizeof PalettePatternA},       {PalettePatternB, sizeof PalettePatternB},
    {PaletteReplacement, sizeof PaletteReplacement}, {PlatformPattern, sizeof PlatformPattern},
    {PlatformReplacement, sizeof PlatformReplacement},
};

namespace {

bool ReplaceFirst(std::vector<uint8_t>& bytes, const uint8_t* pattern, const uint8_t* replacement, size_t length) {
    auto at = std::search(bytes.begin(), bytes.end(), pattern, pattern + length);
    if (at == bytes.end()) return false;
    std::copy(replacement, replacement + length, at);
    return true;
}

}  // namespace

PatchOutcome ModelRecipe(std::vector<uint8_t>& bytes) {
    // An empty file cannot be mapped: nothing is found in it.
    if (bytes.empty()) return PatchOutcome::NotFound;
    if (ReplaceFirst(bytes, PalettePatternA, PaletteReplacement, 39)) return PatchOutcome::Applied;
    if (ReplaceFirst(bytes, PalettePatternB, PaletteReplacement, 39) &&
        ReplaceFirst(bytes, PlatformPattern, PlatformReplacement, 26)) {
        return PatchOutcome::Applied;
    }
    bool marked = std::search(bytes.begin(), bytes.end(), PaletteReplacement, PaletteReplacement + 39) != bytes.end();
    return marked ? PatchOutcome::AlreadyApplied : PatchOutcome::NotFound;
}
