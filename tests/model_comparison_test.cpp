// The engine against the reference model on thousands of generated files: patterns at offset 0 and
// at the very end, leading parts at the end, overlapping and repeated patterns, both builds,
// patched and unpatched, empty and tiny files. Each file is run twice, as a user might.
#include <random>

#include <gtest/gtest.h>

#include "tests/reference_model.h"
#include "tests/test_support.h"

namespace {

// A file built from the blocks' own bytes as often as from any byte, so that near misses abound.
std::vector<uint8_t> GenerateFile(std::mt19937& random) {
    std::uniform_int_distribution<int> percent(0, 99);
    size_t size;
    int shape = percent(random);
    if (shape < 5) size = 0;
    else if (shape < 20) size = random() % 40;
    else if (shape < 80) size = 26 + random() % 200;
    else size = 200 + random() % 5000;
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        const CatalogueBlock& source = kCatalogueBlocks[random() % 5];
        b = percent(random) < 50 ? source.bytes[random() % source.length] : static_cast<uint8_t>(random());
    }
    size_t plants = random() % 5;
    size_t previous = 0;
    for (size_t i = 0; i < plants && size > 0; ++i) {
        const CatalogueBlock& block = kCatalogueBlocks[random() % 5];
        size_t length = block.length;
        int where = percent(random);
        if (where < 15) {  // only a leading part, at the very end
            length = 1 + random() % (block.length - 1);
            if (length > size) continue;
            std::copy(block.bytes, block.bytes + length, bytes.end() - length);
            continue;
        }
        if (length > size) continue;
        size_t at;
        if (where < 30) at = 0;
        else if (where < 45) at = size - length;
        else if (where < 65) at = std::min(previous + 1 + random() % length, size - length);  // overlapping
        else at = random() % (size - length + 1);
        std::copy(block.bytes, block.bytes + block.length, bytes.begin() + at);
        previous = at;
    }
    return bytes;
}

TEST(ModelComparison, EngineAgreesWithTheModelOnGeneratedFiles) {
    constexpr int kFiles = 3000;
    std::mt19937 random(20261211);
    TempDir dir;
    std::string path = dir.File("rally.exe");
    int outcomes[3] = {};
    for (int i = 0; i < kFiles; ++i) {
        std::vector<uint8_t> model = GenerateFile(random);
        WriteAll(path, model);
        for (int run = 1; run <= 2; ++run) {
            PatchOutcome expected = ModelRecipe(model);
            PatchOutcome got = RunPatchRecipe(path.c_str());
            ASSERT_EQ(got, expected) << "file " << i << ", run " << run;
            ASSERT_EQ(ReadAll(path), model) << "file " << i << ", run " << run;
            ++outcomes[static_cast<int>(got)];
        }
    }
    // The generated files reach every outcome often.
    for (int count : outcomes) EXPECT_GT(count, kFiles / 20);
    std::printf("%d files, %d runs: %d Applied, %d AlreadyApplied, %d NotFound\n", kFiles, 2 * kFiles, outcomes[0],
                outcomes[1], outcomes[2]);
}

}  // namespace
