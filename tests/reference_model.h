// A second, deliberately plain account of what a run of the patcher does to a file's bytes, written
// apart from the engine: std::search over a copy held in memory. The tests hold the engine to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/patch_catalogue.h"

// Every block of the catalogue, for the tests that plant them in generated files.
struct CatalogueBlock {
    const uint8_t* bytes;
    size_t length;
};
extern const CatalogueBlock kCatalogueBlocks[5];

// Applies the recipe to bytes in place and gives the outcome the patcher must report.
PatchOutcome ModelRecipe(std::vector<uint8_t>& bytes);
