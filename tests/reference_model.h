// A second, deliberately plain account of what a run of the patcher does to a file's bytes, written
// apart from the engine: std::search over a copy held in memory. The tests hold the engine to it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/patch_catalogue.h"

// Applies the recipe to bytes in place and gives the outcome the patcher must report.
PatchOutcome ModelRecipe(std::vector<uint8_t>& bytes);
