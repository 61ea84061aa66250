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

    // installDirectory is HDPath as system.reg escapes it; acp, where given, the ANSI code page
    // that Wine keeps there too.
    explicit Prefix(const std::string& installDirectory = "C:\\\\Games\\\\Rally", const char* acp = nullptr) {
        mkdir((dir.path() + "/drive_c").c_str(), 0755);
        mkdir((dir.path() + "/drive_c/Games").c_str(), 0755);
        mkdir((dir.path() + "/drive_c/Games/Rally").c_str(), 0755);
        mkdir((dir.path() + "/dosdevices").c_str(), 0755);
        EXPECT_EQ(symlink("../drive_c", (dir.path() + "/dosdevices/c:").c_str()), 0);
        game = dir.path() + "/drive_c/Games/Rally/rally.exe";
        if (installDirectory.empty()) return;
        std::string registry = "WINE REGISTRY Version 2\n#arch=win64\n\n"
                               "[Software\\\\Wow6432Node\\\\Halcyra\\\\Rally\\\\1.00] 1\n"
                               "\"HDPath\"=\"" + installDirectory + "\"\n";
        if (acp) registry += "\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage] 1\n\"ACP\"=\"" + std::string(acp) + "\"\n";
        WriteAll(dir.File("system.reg"), Bytes(registry));
    }
};

struct Ran {
    int exitCode;
    std::string shown;   // standard output
    std::string errors;  // standard error
};

// Runs the program with input on its standard input; runAs, if given, goes before it (setpriv),
// and so do the variables of environment ("LC_ALL=C "); arguments follow its name.
Ran RunQuorvant(const Prefix& prefix, const std::string& input, const std::string& program = QUORVANT_BINARY,
                const std::string& runAs = "", const std::string& arguments = "", const std::string& environment = "") {
    WriteAll(prefix.dir.File("input"), Bytes(input));
    std::string command = "WINEPREFIX='" + prefix.dir.path() + "' " + environment + runAs + " '" + program + "' " +
                          arguments + " <'" + prefix.dir.File("input") + "' >'" + prefix.dir.File("shown") + "' 2>'" +
                          prefix.dir.File("errors") + "'";
    int status = std::system(command.c_str());
    std::vector<uint8_t> shown = ReadAll(prefix.dir.File("shown"));
    std::vector<uint8_t> errors = ReadAll(prefix.dir.File("errors"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(shown.begin(), shown.end()),
            std::string(errors.begin(), errors.end())};
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

// Paths beyond ASCII: HDPath as Wine escapes it, read in the prefix's ANSI code page as the release
// reads it, found on disk in UTF-8 whatever the case of its letters, and shown in the terminal's
// character set.
struct NonAsciiCase {
    const char* name;
    std::string hdpath;     // as system.reg holds it
    const char* acp;        // the prefix's ANSI code page; none: 1252
    std::string disk;       // the game's folder under drive_c, in UTF-8
    const char* locale;     // LC_ALL of the run
    std::string shownPath;  // GamePath as the terminal shows it
    const char* outcome;
};

void PrintTo(const NonAsciiCase& c, std::ostream* os) { *os << c.name; }

class MainLineNonAscii : public testing::TestWithParam<NonAsciiCase> {};

TEST_P(MainLineNonAscii, FindsTheGameAsTheReleaseDoesUnderWine) {
    const NonAsciiCase& c = GetParam();
    Prefix prefix(c.hdpath, c.acp);
    std::string folder = prefix.dir.path() + "/drive_c/" + c.disk;
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    std::vector<uint8_t> before = MakeGame(GameKind::BuildA).bytes;
    WriteAll(folder + "/rally.exe", before);
    Ran ran = RunQuorvant(prefix, "\n", QUORVANT_BINARY, "", "", std::string("LC_ALL=") + c.locale + " ");
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(Boxes(ran.shown), (std::vector<std::string>{Confirm(c.shownPath), c.outcome})) << ran.shown;
    EXPECT_EQ(ReadAll(folder + "/rally.exe") != before, c.outcome == std::string(kApplied));
}

// 237 characters, 28 of them umlauts: 238 bytes in code page 1252 with the NUL, 266 in UTF-8.
const std::string kUmlautFolder = std::string("Spiele/") + [] {
    std::string name;
    for (int i = 0; i < 28; ++i) name += "\xC3\xBC";
    return name + std::string(237 - 10 - 28, 'r');
}();
const std::string kUmlautPath = [] {
    std::string escaped = "C:\\\\Spiele\\\\";
    for (int i = 0; i < 28; ++i) escaped += "\\x00fc";
    return escaped + std::string(237 - 10 - 28, 'r');
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, MainLineNonAscii,
    testing::Values(
        NonAsciiCase{"LetterInAnotherCaseOnDisk", "C:\\\\Games\\\\Velmora \\x00c9dition", nullptr,
                     "Games/Velmora \xC3\xA9" "dition", "C.UTF-8",
                     "C:\\Games\\Velmora \xC3\x89" "dition\\rally.exe", kApplied},
        NonAsciiCase{"CodePage1250", "C:\\\\Hry\\\\Z\\x00e1vod \\x010c", "1250", "HRY/z\xC3\xA1vod \xC4\x8D",
                     "C.UTF-8", "C:\\Hry\\Z\xC3\xA1vod \xC4\x8C\\rally.exe", kApplied},
        NonAsciiCase{"CodePage932BackslashTrailByte", "C:\\\\\\x30bd\\x30d5\\x30c8", "932",
                     "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88", "C.UTF-8",
                     "C:\\\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\\rally.exe", kApplied},
        NonAsciiCase{"ManyUmlautsWithinTheLimit", kUmlautPath, nullptr, kUmlautFolder, "C.UTF-8",
                     "C:\\" + std::string(kUmlautFolder).replace(6, 1, "\\") + "\\rally.exe", kApplied},
        NonAsciiCase{"LettersOutsideTheCodePage", "C:\\\\\\x0418\\x0433\\x0440\\x0430", nullptr,
                     "\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0", "C.UTF-8", "C:\\????\\rally.exe", kNotFound},
        NonAsciiCase{"TerminalWithoutTheLetter", "C:\\\\Games\\\\Velmora \\x00c9dition", nullptr,
                     "Games/Velmora \xC3\x89" "dition", "C", "C:\\Games\\Velmora ?dition\\rally.exe", kApplied}),
    [](const testing::TestParamInfo<NonAsciiCase>& info) { return info.param.name; });

// The command line: the plain run is the Windows program's; the options are for people and scripts.
struct OptionCase {
    const char* name;
    std::string arguments;
    GameKind kind;
    bool installed;
    int exitCode;
    std::vector<std::string> boxes;
    std::string shownStart;   // what standard output starts with, when no box is shown
    std::string errorsStart;  // what standard error starts with
    bool changed;
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class CommandLine : public testing::TestWithParam<OptionCase> {};

TEST_P(CommandLine, AnswersWithItsOutputAndStatus) {
    const OptionCase& c = GetParam();
    Prefix prefix(c.installed ? "C:\\\\Games\\\\Rally" : "");
    std::vector<uint8_t> before = MakeGame(c.kind).bytes;
    WriteAll(prefix.game, before);
    std::vector<uint8_t> registryBefore = c.installed ? ReadAll(prefix.dir.File("system.reg")) : std::vector<uint8_t>();
    Ran ran = RunQuorvant(prefix, "cancel\n", QUORVANT_BINARY, "", c.arguments);
    EXPECT_EQ(ran.exitCode, c.exitCode);
    EXPECT_EQ(Boxes(ran.shown), c.boxes) << ran.shown;
    EXPECT_EQ(ran.shown.substr(0, c.shownStart.size()), c.shownStart);
    EXPECT_EQ(ran.errors.substr(0, c.errorsStart.size()), c.errorsStart);
    if (!c.errorsStart.empty()) {
        EXPECT_EQ(ran.shown, "");
    }
    EXPECT_EQ(ReadAll(prefix.game) != before, c.changed);
    if (c.installed) {
        EXPECT_EQ(ReadAll(prefix.dir.File("system.reg")), registryBefore);
    }
}

const std::string kUsage = "Usage: quorvant [--yes | --help | --version]\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    testing::Values(
        OptionCase{"PlainRunExitsWithZeroWhateverHappened", "", GameKind::NoBlocks, true, 0, {kConfirm}, "", "", false},
        OptionCase{"Help", "--help", GameKind::BuildA, true, 0, {}, kUsage, "", false},
        OptionCase{"Version", "--version", GameKind::BuildA, true, 0, {}, "quorvant 1.1\n", "", false},
        OptionCase{"YesApplies", "--yes", GameKind::BuildB, true, 0, {kConfirm, kApplied}, "", "", true},
        OptionCase{"YesAlreadyApplied", "--yes", GameKind::PatchedA, true, 0, {kConfirm, kAlready}, "", "", false},
        OptionCase{"YesNotFound", "--yes", GameKind::NoBlocks, true, 1, {kConfirm, kNotFound}, "", "", false},
        OptionCase{"YesNotInstalled", "--yes", GameKind::BuildA, false, 2, {kNotInstalled}, "", "", false},
        OptionCase{"UnknownOption", "--force", GameKind::BuildA, true, 64, {}, "",
                   "quorvant: unknown option '--force'\n\n" + kUsage, false},
        OptionCase{"UnknownOptionAfterYes", "--yes --force", GameKind::BuildA, true, 64, {}, "",
                   "quorvant: one option at a time\n\n" + kUsage, false},
        OptionCase{"Operand", "rally.exe", GameKind::BuildA, true, 64, {}, "",
                   "quorvant: unknown option 'rally.exe'\n\n" + kUsage, false}),
    [](const testing::TestParamInfo<OptionCase>& info) { return info.param.name; });

TEST(CommandLineHelp, SaysWhatTheProgramDoesWhereItLooksAndHowToAnswer) {
    Prefix prefix("");
    std::string help = RunQuorvant(prefix, "", QUORVANT_BINARY, "", "--help").shown;
    for (const char* needed : {"Windows 2000", "rally.exe", "WINEPREFIX", "~/.wine", "--yes", "cancel", "exit status"}) {
        EXPECT_NE(help.find(needed), std::string::npos) << needed;
    }
}

}  // namespace
