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
        LookupCase{"EscapesAsWineWritesThem", Record("\"C:\\\\Spiele\\\\Rall\\x00fce \\\"GT\\\"\""),
                   "C:\\Spiele\\Rall\xC3\xBC" "e \"GT\"\\rally.exe"},
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
