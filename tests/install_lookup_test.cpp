#include "frontend/install_lookup.h"

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

const char kHeader[] = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
const char kWin64[] = "#arch=win64\n\n";
const char kKey32[] = "[Software\\\\Halcyra\\\\Rally\\\\1.00] 1733900000\n#time=1db4b7a2c3e1f00\n";
const char kKeyWow[] = "[Software\\\\Wow6432Node\\\\Halcyra\\\\Rally\\\\1.00] 1733900000\n#time=1db4b7a2c3e1f00\n";

struct LookupCase {
    const char* name;
    std::string registry;  // system.reg's text; empty: there is no system.reg
    std::string path;      // the GamePath expected
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

std::string HexList(const std::string& bytes) {
    std::string list;
    char hex[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
        if (i > 0) list += i % 24 ? "," : ",\\\n  ";  // Wine folds long lists over lines
        list += hex;
    }
    return list;
}

std::string Record(const std::string& value) { return kHeader + std::string(kKey32) + "\"HDPath\"=" + value + "\n"; }

// The key where Wine keeps the prefix's ANSI code page, in which a 32-bit program reads strings.
std::string WithCodePage(const std::string& registry, const char* acp) {
    return registry + "\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage] 1733900000\n\"ACP\"=\"" + acp +
           "\"\n\"OEMCP\"=\"437\"\n";
}

// Text as Wine writes it in system.reg: every character beyond ASCII as \xNNNN.
std::string WineEscaped(const std::u16string& text) {
    std::string escaped;
    char unit[8];
    for (char16_t c : text) {
        if (c < 0x80) {
            escaped += c == '\\' ? "\\\\" : std::string(1, static_cast<char>(c));
            continue;
        }
        std::snprintf(unit, sizeof unit, "\\x%04x", static_cast<unsigned>(c));
        escaped += unit;
    }
    return escaped;
}

// 237 characters, 28 of them umlauts: 238 bytes with the NUL in code page 1252, but 266 in UTF-8.
const std::u16string kUmlauts = u"C:\\Spiele\\" + std::u16string(28, u'\u00fc') + std::u16string(237 - 10 - 28, u'r');

const std::string k254(254, 'd');
const std::string k255(255, 'e');

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheGameAsA32BitWindowsProgramWould) {
    TempDir prefix;
    setenv("WINEPREFIX", prefix.path().c_str(), 1);
    if (!GetParam().registry.empty()) WriteAll(prefix.File("system.reg"), Bytes(GetParam().registry));
    GamePath path = FindGameExecutable();
    EXPECT_EQ(std::string(path.text), GetParam().path);
    unsetenv("WINEPREFIX");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Lookup,
    testing::Values(
        LookupCase{"NoRegistryFile", "", ""},
        LookupCase{"NotARegistry", "REGEDIT4\n" + std::string(kKey32) + "\"HDPath\"=\"C:\\\\Games\"\n", ""},
        LookupCase{"NoKey", kHeader + std::string("[Software\\\\Other] 1\n\"HDPath\"=\"C:\\\\Other\"\n"), ""},
        LookupCase{"KeyWithoutValue", kHeader + std::string(kKey32) + "\"Version\"=\"1.00\"\n", ""},
        LookupCase{"OnlyInASubkey",
                   kHeader + std::string(kKey32) + "\n[Software\\\\Halcyra\\\\Rally\\\\1.00\\\\Sub] 1\n\"HDPath\"=\"C:\\\\X\"\n",
                   ""},
        LookupCase{"Plain", Record("\"C:\\\\Games\\\\Rally\""), "C:\\Games\\Rally\\rally.exe"},
        LookupCase{"AmongOtherValues",
                   kHeader + std::string(kKey32) + "\"Language\"=\"English\"\n@=\"default\"\n\"HDPath\"=\"D:\\\\Rally\"\n"
                       "\"CDPath\"=\"E:\\\\\"\n",
                   "D:\\Rally\\rally.exe"},
        LookupCase{"TrailingBackslash", Record("\"C:\\\\Games\\\\Rally\\\\\""), "C:\\Games\\Rally\\\\rally.exe"},
        LookupCase{"Directory254Characters", Record("\"" + k254 + "\""), k254 + "\\rally.exe"},
        LookupCase{"Directory255CharactersNeeds256Bytes", Record("\"" + k255 + "\""), ""},
        LookupCase{"Exactly255BytesWithoutNul", Record("hex(3):" + HexList(k255)), k255 + "\\rally.exe"},
        LookupCase{"MoreThan255Bytes", Record("hex:" + HexList(k255 + "f")), ""},
        LookupCase{"BinaryDataEndsAtItsFirstNul", Record("hex:" + HexList(std::string("C:\\G\0junk", 9))),
                   "C:\\G\\rally.exe"},
        LookupCase{"Empty", Record("\"\""), "\\rally.exe"},
        LookupCase{"ExpandableStringStaysUnexpanded", Record("str(2):\"%ProgramFiles%\\\\Rally\""),
                   "%ProgramFiles%\\Rally\\rally.exe"},
        LookupCase{"Dword", Record("dword:00000041"), "A\\rally.exe"},
        // Strings come in the prefix's ANSI code page (1252 where system.reg names none), as the
        // release reads them there; the limit of 255 bytes counts those bytes.
        LookupCase{"EscapesAsWineWritesThem", Record("\"C:\\\\Spiele\\\\Rall\\x00fce \\\"GT\\\"\""),
                   "C:\\Spiele\\Rall\xFC" "e \"GT\"\\rally.exe"},
        LookupCase{"CodePage1252Named", WithCodePage(Record("\"" + WineEscaped(u"C:\\Jeux\\Édition") + "\""), "1252"),
                   "C:\\Jeux\\\xC9" "dition\\rally.exe"},
        LookupCase{"CodePage1250", WithCodePage(Record("\"" + WineEscaped(u"C:\\Hry\\Závod Č") + "\""), "1250"),
                   "C:\\Hry\\Z\xE1vod \xC8\\rally.exe"},
        LookupCase{"CodePage932WithABackslashAsTrailByte",
                   WithCodePage(Record("\"" + WineEscaped(u"C:\\ゲーム\\ソ") + "\""), "932"),
                   "C:\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\\rally.exe"},
        LookupCase{"LettersOutsideTheCodePage", Record("\"" + WineEscaped(u"C:\\Игры\\Rally") + "\""),
                   "C:\\????\\Rally\\rally.exe"},
        LookupCase{"ManyUmlautsWithinTheLimitInTheCodePage", Record("\"" + WineEscaped(kUmlauts) + "\""),
                   "C:\\Spiele\\" + std::string(28, '\xFC') + std::string(237 - 10 - 28, 'r') + "\\rally.exe"},
        LookupCase{"UmlautsPastTheLimit", Record("\"" + WineEscaped(u"C:\\" + std::u16string(252, u'\u00e4')) + "\""),
                   ""},
        LookupCase{"NamesInAnotherCase",
                   kHeader + std::string("[SOFTWARE\\\\halcyra\\\\RALLY\\\\1.00] 1\n\"hdpath\"=\"C:\\\\R\"\n"),
                   "C:\\R\\rally.exe"},
        LookupCase{"Win64PrefixSeenThrough32BitView",
                   kHeader + std::string(kWin64) + kKey32 + "\"HDPath\"=\"C:\\\\Wrong\"\n\n" + kKeyWow +
                       "\"HDPath\"=\"C:\\\\Games\\\\Rally\"\n",
                   "C:\\Games\\Rally\\rally.exe"},
        LookupCase{"Win64PrefixWithoutTheWowKey",
                   kHeader + std::string(kWin64) + kKey32 + "\"HDPath\"=\"C:\\\\Wrong\"\n", ""},
        LookupCase{"CrLfLineEnds",
                   "WINE REGISTRY Version 2\r\n[Software\\\\Halcyra\\\\Rally\\\\1.00] 1\r\n\"HDPath\"=\"C:\\\\R\"\r\n",
                   "C:\\R\\rally.exe"},
        LookupCase{"TruncatedInsideTheValue", kHeader + std::string(kKey32) + "\"HDPath\"=\"C:\\\\Gam", ""},
        LookupCase{"MalformedValue", Record("C:\\\\Games"), ""}),
    [](const testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

}  // namespace
