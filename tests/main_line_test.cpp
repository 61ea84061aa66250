// The Linux program end to end: build/native/quorvant run as a process against a prefix of its own,
// answered on standard input, judged by what it shows, its exit code and the game's bytes.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

const char kCaption[] = "Patch Velmora Rally for Windows 2000 - Version 1.1";
const char kNotInstalled[] =
    "Velmora Rally isn't installed.\n\nMust install with Windows 2000 even \nif already installed with Windows 95/98/ME.";
const char kApplied[] = "Patch applied successfully.\nProgram will now close.";
const char kAlready[] = "Patch already applied.\nProgram will now close.";
const char kNotFound[] = "Patch failed. Code pattern not found.\nProgram will now close.";

std::string Confirm(const std::string& path) {
    return "QUORVANT will patch the following file:\n\n" + path +
           "\n\nPress OK to start patching.\n\nPatch made by the Quorvant project.\n"
           "Updates on: https://quorvant.example/updates/";
}

const std::string kPath = "C:\\Games\\Rally\\rally.exe";
const std::string kConfirm = Confirm(kPath);

// A Wine prefix with drive C: and, if wanted, the game's record pointing at C:\Games\Rally.
struct Prefix {
    TempDir dir;
    std::string game;

    explicit Prefix(const std::string& installDirectory = "C:\\\\Games\\\\Rally") {
        mkdir((dir.path() + "/drive_c").c_str(), 0755);
        mkdir((dir.path() + "/drive_c/Games").c_str(), 0755);
        mkdir((dir.path() + "/drive_c/Games/Rally").c_str(), 0755);
        mkdir((dir.path() + "/dosdevices").c_str(), 0755);
        EXPECT_EQ(symlink("../drive_c", (dir.path() + "/dosdevices/c:").c_str()), 0);
        game = dir.path() + "/drive_c/Games/Rally/rally.exe";
        if (installDirectory.empty()) return;
        WriteAll(dir.File("system.reg"), Bytes("WINE REGISTRY Version 2\n#arch=win64\n\n"
                                               "[Software\\\\Wow6432Node\\\\Halcyra\\\\Rally\\\\1.00] 1\n"
                                               "\"HDPath\"=\"" + installDirectory + "\"\n"));
    }
};

struct Ran {
    int exitCode;
    std::string shown;
};

// Runs the program with input on its standard input; runAs, if given, goes before it (setpriv).
Ran RunQuorvant(const Prefix& prefix, const std::string& input, const std::string& program = QUORVANT_BINARY,
                const std::string& runAs = "") {
    WriteAll(prefix.dir.File("input"), Bytes(input));
    std::string command = "WINEPREFIX='" + prefix.dir.path() + "' " + runAs + " '" + program + "' <'" +
                          prefix.dir.File("input") + "' >'" + prefix.dir.File("shown") + "' 2>&1";
    int status = std::system(command.c_str());
    std::vector<uint8_t> shown = ReadAll(prefix.dir.File("shown"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(shown.begin(), shown.end())};
}

// Runs a copy of the program as the unprivileged user nobody, in a prefix it may read throughout
// and whose system.reg it may write (so that it finds the game).
Ran RunAsNobody(const Prefix& prefix, const std::string& input, bool mayWriteRegistry = true) {
    std::string program = prefix.dir.File("quorvant");
    WriteAll(program, ReadAll(QUORVANT_BINARY));
    chmod(program.c_str(), 0755);
    chmod(prefix.dir.path().c_str(), 0755);
    EXPECT_EQ(chown(prefix.dir.File("system.reg").c_str(), mayWriteRegistry ? 65534 : 0, 0), 0);
    return RunQuorvant(prefix, input, program, "setpriv --reuid=65534 --regid=65534 --clear-groups");
}

// The boxes shown, in order, each the text between its caption and its buttons.
std::vector<std::string> Boxes(const std::string& shown) {
    std::vector<std::string> boxes;
    size_t at = 0;
    while ((at = shown.find(kCaption, at)) != std::string::npos) {
        size_t start = shown.find("\n\n", at) + 2;
        size_t end = shown.find("\n\n[OK]", start);
        boxes.push_back(shown.substr(start, end - start));
        at = end;
    }
    return boxes;
}

struct MainLineCase {
    const char* name;
    GameKind kind;
    std::string input;
    std::vector<std::string> boxes;
    bool changed;
};

void PrintTo(const MainLineCase& c, std::ostream* os) { *os << c.name; }

class MainLine : public testing::TestWithParam<MainLineCase> {};

TEST_P(MainLine, ShowsTheBoxesOfTheStateTableAndExitsWithZero) {
    const MainLineCase& c = GetParam();
    Prefix prefix;
    std::vector<uint8_t> before = MakeGame(c.kind).bytes;
    WriteAll(prefix.game, before);
    Ran ran = RunQuorvant(prefix, c.input);
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(Boxes(ran.shown), c.boxes) << ran.shown;
    EXPECT_EQ(ReadAll(prefix.game) != before, c.changed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainLine,
    testing::Values(MainLineCase{"OkOnBuildA", GameKind::BuildA, "\n", {kConfirm, kApplied}, true},
                    MainLineCase{"OkOnBuildB", GameKind::BuildB, "ok\n", {kConfirm, kApplied}, true},
                    MainLineCase{"OkOnPatchedGame", GameKind::PatchedB, "\n", {kConfirm, kAlready}, false},
                    MainLineCase{"OkOnUnknownGame", GameKind::NoBlocks, "\n", {kConfirm, kNotFound}, false},
                    MainLineCase{"Cancel", GameKind::BuildB, "cancel\n", {kConfirm}, false},
                    MainLineCase{"EndOfInput", GameKind::BuildB, "", {kConfirm}, false},
                    MainLineCase{"AskedAgainThenOk", GameKind::BuildA, "y\nOK\n", {kConfirm, kApplied}, true}),
    [](const testing::TestParamInfo<MainLineCase>& info) { return info.param.name; });

TEST(MainLineRuns, SecondRunSaysAlreadyAppliedAndChangesNothing) {
    Prefix prefix;
    WriteAll(prefix.game, MakeGame(GameKind::BuildB).bytes);
    ASSERT_EQ(Boxes(RunQuorvant(prefix, "\n").shown).back(), kApplied);
    std::vector<uint8_t> patched = ReadAll(prefix.game);
    Ran again = RunQuorvant(prefix, "\n");
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(Boxes(again.shown).back(), kAlready);
    EXPECT_EQ(ReadAll(prefix.game), patched);
}

TEST(MainLineRuns, NoRecordShowsOnlyTheNotInstalledBox) {
    Prefix prefix("");
    WriteAll(prefix.game, MakeGame(GameKind::BuildB).bytes);
    Ran ran = RunQuorvant(prefix, "\n\n");
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(Boxes(ran.shown), std::vector<std::string>{kNotInstalled});
}

// Faults a user meets: each gives the failure box, and the game stays exactly as it was.
struct FaultCase {
    const char* name;
    // Makes the fault; what it returns holds the file for as long as the run lasts.
    std::function<std::unique_ptr<OtherProcess>(Prefix&)> make;
    bool asOtherUser;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class MainLineFault : public testing::TestWithParam<FaultCase> {};

TEST_P(MainLineFault, ShowsNotFoundAndLeavesTheGameUntouched) {
    if (GetParam().asOtherUser && geteuid() != 0) GTEST_SKIP() << "needs root to run the patcher as another user";
    Prefix prefix;
    std::vector<uint8_t> before = MakeGame(GameKind::BuildB).bytes;
    WriteAll(prefix.game, before);
    std::unique_ptr<OtherProcess> holder = GetParam().make(prefix);
    Ran ran = GetParam().asOtherUser ? RunAsNobody(prefix, "\n") : RunQuorvant(prefix, "\n");
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(Boxes(ran.shown), (std::vector<std::string>{kConfirm, kNotFound}));
    struct stat st;
    if (stat(prefix.game.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        EXPECT_EQ(ReadAll(prefix.game), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainLineFault,
    testing::Values(
        FaultCase{"GameRunning",
                  [](Prefix& p) { return std::make_unique<OtherProcess>(p.game, OtherProcess::Hold::OpenDescriptor); },
                  false},
        FaultCase{"GameMappedByAnotherProcess",
                  [](Prefix& p) { return std::make_unique<OtherProcess>(p.game, OtherProcess::Hold::Mapping); }, false},
        FaultCase{"LockedByAnotherPatcher",
                  [](Prefix& p) { return std::make_unique<OtherProcess>(p.game, OtherProcess::Hold::Lock); }, false},
        FaultCase{"ReadOnly",
                  [](Prefix& p) {
                      chmod(p.game.c_str(), 0444);
                      return std::unique_ptr<OtherProcess>();
                  },
                  false},
        FaultCase{"NoWritePermissionForThisUser", [](Prefix&) { return std::unique_ptr<OtherProcess>(); }, true},
        FaultCase{"DirectoryWhereTheGameShouldBe",
                  [](Prefix& p) {
                      unlink(p.game.c_str());
                      mkdir(p.game.c_str(), 0755);
                      return std::unique_ptr<OtherProcess>();
                  },
                  false},
        FaultCase{"Missing",
                  [](Prefix& p) {
                      unlink(p.game.c_str());
                      return std::unique_ptr<OtherProcess>();
                  },
                  false}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(MainLineRuns, LongestReadablePathIsShownInFull) {
    // 254 characters of directory: with \rally.exe, a GamePath of 264 characters.
    std::string directory = "C:\\\\" + std::string(249, 'r') + "\\\\x";
    Prefix prefix(directory);
    std::string path = "C:\\" + std::string(249, 'r') + "\\x\\rally.exe";
    ASSERT_EQ(path.size(), 264u);
    Ran ran = RunQuorvant(prefix, "\n");
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(Boxes(ran.shown), (std::vector<std::string>{Confirm(path), kNotFound}));
}

TEST(MainLineRuns, UserWhoMayNotWriteTheMachineRegistryIsToldTheGameIsNotInstalled) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the patcher as another user";
    Prefix prefix;
    WriteAll(prefix.game, MakeGame(GameKind::BuildB).bytes);
    Ran ran = RunAsNobody(prefix, "\n", false);
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(Boxes(ran.shown), std::vector<std::string>{kNotInstalled});

    // The same user, once it may write system.reg, is asked to confirm.
    ran = RunAsNobody(prefix, "cancel\n");
    EXPECT_EQ(Boxes(ran.shown), std::vector<std::string>{kConfirm});
}

}  // namespace
