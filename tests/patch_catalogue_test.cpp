#include "engine/patch_catalogue.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 3) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> Block(const uint8_t* block, size_t length) { return std::vector<uint8_t>(block, block + length); }

TEST(Catalogue, BlocksHoldTheGamesBytes) {
    // As read off the two builds of rally.exe, and as the replacements were written for them.
    EXPECT_EQ(Block(PalettePatternA, sizeof PalettePatternA),
              FromHex("55 8B EC 53 56 57 8B 7D 08 B9 00 03 00 00 66 BA C7 03 32 C0 EE 66 42 66 42 FC EC AA EB 00 "
                      "E2 FA 5F 5E 5B 5D C2 04 00"));
    EXPECT_EQ(Block(PalettePatternB, sizeof PalettePatternB),
              FromHex("55 8B EC 57 8B 7D 08 B9 00 03 00 00 66 BA C7 03 32 C0 EE 66 42 66 42 FC EC AA EB 00 E2 FA "
                      "5F 5D C2 04 00 90 90 90 90"));
    std::vector<uint8_t> replacement = FromHex("55 8B EC 53 56 57 90 90 5F 5E 5B 5D C2 04 00 90");
    for (char c : std::string("QUORVANT")) replacement.push_back(static_cast<uint8_t>(c));
    replacement.resize(39, 0x90);
    EXPECT_EQ(Block(PaletteReplacement, sizeof PaletteReplacement), replacement);
    EXPECT_EQ(Block(PlatformPattern, sizeof PlatformPattern),
              FromHex("85 C0 74 0D 8B 4C 24 10 B8 01 00 00 00 3B C8 75 02 33 C0 81 C4 94 00 00 00 C3"));
    std::vector<uint8_t> platform(17, 0x90);
    for (uint8_t b : FromHex("33 C0 81 C4 94 00 00 00 C3")) platform.push_back(b);
    EXPECT_EQ(Block(PlatformReplacement, sizeof PlatformReplacement), platform);
}

struct Count {
    const uint8_t* block;
    size_t length;
};

TEST(GameFixture, EachKindHoldsExactlyTheBlocksItNames) {
    const Count a{PalettePatternA, 39}, b{PalettePatternB, 39}, patched{PaletteReplacement, 39},
        platform{PlatformPattern, 26}, platformPatched{PlatformReplacement, 26};
    struct Expect {
        GameKind kind;
        size_t a, b, patched, platform, platformPatched;
    } const expectations[] = {
        {GameKind::BuildA, 1, 0, 0, 0, 0},        {GameKind::BuildB, 0, 1, 0, 1, 0},
        {GameKind::BuildBWithoutPlatform, 0, 1, 0, 0, 0}, {GameKind::PatchedA, 0, 0, 1, 0, 0},
        {GameKind::PatchedB, 0, 0, 1, 0, 1},      {GameKind::PatternATwice, 2, 0, 0, 0, 0},
        {GameKind::BothPalettes, 1, 1, 0, 1, 0},  {GameKind::OtherwiseChanged, 0, 0, 0, 0, 0},
        {GameKind::NoBlocks, 0, 0, 0, 0, 0},
    };
    for (const Expect& e : expectations) {
        GameImage game = MakeGame(e.kind);
        SCOPED_TRACE(static_cast<int>(e.kind));
        EXPECT_EQ(game.bytes.size(), kGameSize);
        EXPECT_EQ(std::string(game.bytes.begin(), game.bytes.begin() + 2), "MZ");
        EXPECT_EQ(std::string(game.bytes.begin() + 0x80, game.bytes.begin() + 0x84), std::string("PE\0\0", 4));
        EXPECT_EQ(FindAll(game.bytes, a.block, a.length).size(), e.a);
        EXPECT_EQ(FindAll(game.bytes, b.block, b.length).size(), e.b);
        EXPECT_EQ(FindAll(game.bytes, patched.block, patched.length).size(), e.patched);
        EXPECT_EQ(FindAll(game.bytes, platform.block, platform.length).size(), e.platform);
        EXPECT_EQ(FindAll(game.bytes, platformPatched.block, platformPatched.length).size(), e.platformPatched);
    }
}

// A run of the recipe: the outcome, and how many bytes changed inside the palette routine and the
// platform tail (and nowhere else).
struct Run {
    PatchOutcome outcome;
    size_t paletteChanged;
    size_t platformChanged;
};

struct RecipeCase {
    const char* name;
    GameKind kind;
    std::vector<Run> runs;
};

void PrintTo(const RecipeCase& c, std::ostream* os) { *os << c.name; }

class Recipe : public testing::TestWithParam<RecipeCase> {};

TEST_P(Recipe, RewritesExactlyTheKnownBytesAndReportsWhatItDid) {
    const RecipeCase& c = GetParam();
    TempDir dir;
    std::string path = dir.File("rally.exe");
    GameImage game = MakeGame(c.kind);
    WriteAll(path, game.bytes);
    std::vector<uint8_t> before = game.bytes;
    for (size_t run = 0; run < c.runs.size(); ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        EXPECT_EQ(RunPatchRecipe(path.c_str()), c.runs[run].outcome);
        std::vector<uint8_t> after = ReadAll(path);
        ASSERT_EQ(after.size(), before.size());
        size_t inPalette = 0, inPlatform = 0;
        for (size_t offset : DifferingOffsets(before, after)) {
            // A run rewrites the lowest still unpatched palette routine: the first, else the second.
            bool palette = (offset >= game.palette && offset < game.palette + 39) ||
                           (game.second && offset >= game.second && offset < game.second + 39);
            bool platform = game.platform && offset >= game.platform && offset < game.platform + 26;
            EXPECT_TRUE(palette || platform) << "changed outside the blocks at " << offset;
            inPalette += palette;
            inPlatform += platform;
        }
        EXPECT_EQ(inPalette, c.runs[run].paletteChanged);
        EXPECT_EQ(inPlatform, c.runs[run].platformChanged);
        before = after;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Recipe,
    testing::Values(
        RecipeCase{"BuildA", GameKind::BuildA, {{PatchOutcome::Applied, 33, 0}, {PatchOutcome::AlreadyApplied, 0, 0}}},
        RecipeCase{"BuildB", GameKind::BuildB, {{PatchOutcome::Applied, 32, 17}, {PatchOutcome::AlreadyApplied, 0, 0}}},
        RecipeCase{"PatternATwice", GameKind::PatternATwice,
                   {{PatchOutcome::Applied, 33, 0}, {PatchOutcome::Applied, 33, 0}, {PatchOutcome::AlreadyApplied, 0, 0}}},
        // Build A wins: only its routine is rewritten, build B's and the platform tail stay.
        RecipeCase{"BothPalettes", GameKind::BothPalettes, {{PatchOutcome::Applied, 33, 0}}},
        // The palette routine is rewritten, then the tail is missing: the probe finds the rewrite.
        RecipeCase{"BuildBWithoutPlatform", GameKind::BuildBWithoutPlatform,
                   {{PatchOutcome::AlreadyApplied, 32, 0}, {PatchOutcome::AlreadyApplied, 0, 0}}},
        RecipeCase{"PatchedA", GameKind::PatchedA, {{PatchOutcome::AlreadyApplied, 0, 0}}},
        RecipeCase{"PatchedB", GameKind::PatchedB, {{PatchOutcome::AlreadyApplied, 0, 0}}},
        RecipeCase{"OtherwiseChanged", GameKind::OtherwiseChanged, {{PatchOutcome::NotFound, 0, 0}}},
        RecipeCase{"NoBlocks", GameKind::NoBlocks, {{PatchOutcome::NotFound, 0, 0}}}),
    [](const testing::TestParamInfo<RecipeCase>& info) { return info.param.name; });

TEST(Recipe, LeavesTheMarkerSixteenBytesIntoTheRewrittenRoutine) {
    for (GameKind kind : {GameKind::BuildA, GameKind::BuildB}) {
        TempDir dir;
        std::string path = dir.File("rally.exe");
        GameImage game = MakeGame(kind);
        WriteAll(path, game.bytes);
        ASSERT_EQ(RunPatchRecipe(path.c_str()), PatchOutcome::Applied);
        std::vector<uint8_t> after = ReadAll(path);
        EXPECT_EQ(std::string(after.begin() + game.palette + kMarkerOffset,
                              after.begin() + game.palette + kMarkerOffset + 8),
                  "QUORVANT");
        EXPECT_EQ(FindAll(after, PaletteReplacement, 39), std::vector<size_t>{game.palette});
        if (game.platform) {
            EXPECT_EQ(FindAll(after, PlatformReplacement, 26), std::vector<size_t>{game.platform});
        }
    }
}

TEST(Recipe, FileThatCannotBeOpenedGivesNotFound) {
    TempDir dir;
    EXPECT_EQ(RunPatchRecipe(dir.File("missing.exe").c_str()), PatchOutcome::NotFound);
    std::string readOnly = dir.File("rally.exe");
    std::vector<uint8_t> game = MakeGame(GameKind::BuildB).bytes;
    WriteAll(readOnly, game);
    chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(RunPatchRecipe(readOnly.c_str()), PatchOutcome::NotFound);
    EXPECT_EQ(ReadAll(readOnly), game);
}

TEST(Recipe, BuildANeverTouchesAPlatformTail) {
    // Build A's game with build B's tail planted beside it: the tail is never searched for.
    TempDir dir;
    std::string path = dir.File("rally.exe");
    GameImage game = MakeGame(GameKind::BuildA);
    std::copy(PlatformPattern, PlatformPattern + 26, game.bytes.begin() + 0x2000);
    WriteAll(path, game.bytes);
    EXPECT_EQ(RunPatchRecipe(path.c_str()), PatchOutcome::Applied);
    EXPECT_EQ(FindAll(ReadAll(path), PlatformPattern, 26), std::vector<size_t>{0x2000});
}

}  // namespace
