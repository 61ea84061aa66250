#include "engine/file_patcher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

bool Patch(const std::string& path, const std::string& pattern, const std::string& replacement) {
    return PatchFile(path.c_str(), reinterpret_cast<const uint8_t*>(pattern.data()),
                     reinterpret_cast<const uint8_t*>(replacement.data()), static_cast<uint32_t>(pattern.size()));
}

TEST(SameBytes, AgreesWithByteByByteEqualityForEveryLengthAndPlaceOfDifference) {
    // Unaligned starts and every split between whole words and the bytes after them.
    uint8_t a[48], b[48];
    for (uint32_t i = 0; i < sizeof a; ++i) a[i] = b[i] = static_cast<uint8_t>(i * 7 + 1);
    for (uint32_t start = 0; start < 4; ++start) {
        for (uint32_t length = 0; length + start <= 40; ++length) {
            EXPECT_TRUE(SameBytes(a + start, b + start, length)) << start << "/" << length;
            for (uint32_t differ = 0; differ < length; ++differ) {
                b[start + differ] ^= 0x80;
                EXPECT_FALSE(SameBytes(a + start, b + start, length)) << start << "/" << length << "/" << differ;
                b[start + differ] ^= 0x80;
            }
        }
    }
}

struct ScanCase {
    const char* name;
    std::string content;
    std::string pattern;
    std::string replacement;
    bool found;
    std::string after;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

// The scan against std::search over every small range and every place of the pattern, with
// decoys that share the pattern's first word (or all but its last byte) before it: patterns shorter
// than a word, exactly a word, and longer, on both the word-first path and the byte path.
TEST(FindFirstMatch, AgreesWithSearchForEveryRangeAndPlace) {
    for (uint32_t length : {1u, 2u, 3u, 4u, 5u, 8u, 39u}) {
        std::string pattern;
        for (uint32_t i = 0; i < length; ++i) pattern += static_cast<char>('A' + i);
        std::string decoy = pattern.substr(0, length > 4 ? length - 1 : length / 2) + "#";
        for (uint32_t size = 0; size <= 2 * length + 40; ++size) {
            for (uint32_t place = 0; place <= size + 1; ++place) {
                std::string range(size, '.');
                for (uint32_t at = 0; at + decoy.size() <= size && at + decoy.size() <= place; at += decoy.size() + 3) {
                    range.replace(at, decoy.size(), decoy);
                }
                if (place + length <= size) range.replace(place, length, pattern);
                auto expected = std::search(range.begin(), range.end(), pattern.begin(), pattern.end());
                uint32_t offset = 0xFFFFFFFF;
                bool found = FindFirstMatch(reinterpret_cast<const uint8_t*>(range.data()), size,
                                            reinterpret_cast<const uint8_t*>(pattern.data()), length, &offset);
                ASSERT_EQ(found, expected != range.end()) << length << "/" << size << "/" << place;
                if (found) {
                    ASSERT_EQ(offset, static_cast<uint32_t>(expected - range.begin()));
                }
            }
        }
    }
}

class PatchFileScan : public testing::TestWithParam<ScanCase> {};

TEST_P(PatchFileScan, ReplacesOnlyTheLowestMatch) {
    const ScanCase& c = GetParam();
    TempDir dir;
    std::string path = dir.File("rally.exe");
    WriteAll(path, Bytes(c.content));
    EXPECT_EQ(Patch(path, c.pattern, c.replacement), c.found);
    EXPECT_EQ(ReadAll(path), Bytes(c.after));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatchFileScan,
    testing::Values(
        ScanCase{"AtOffsetZero", "ABCDEFxyz", "ABCDEF", "123456", true, "123456xyz"},
        ScanCase{"EndingOnTheLastByte", "xyzABCDEF", "ABCDEF", "123456", true, "xyz123456"},
        ScanCase{"WholeFile", "ABCDEF", "ABCDEF", "123456", true, "123456"},
        ScanCase{"OnlyALeadingPartAtTheEnd", "xyzxyzABCDE", "ABCDEF", "123456", false, "xyzxyzABCDE"},
        ScanCase{"FileShorterThanPattern", "ABC", "ABCDEF", "123456", false, "ABC"},
        ScanCase{"Twice", "..ABCDEF..ABCDEF..", "ABCDEF", "123456", true, "..123456..ABCDEF.."},
        ScanCase{"OverlappingOccurrences", "xAAAAAAAA", "AAAAA", "12345", true, "x12345AAA"},
        ScanCase{"SameBlockAsReplacement", "..ABCDEF..", "ABCDEF", "ABCDEF", true, "..ABCDEF.."},
        ScanCase{"DiffersOnlyInTheLastByte", "ABCDEFGHIJx", "ABCDEFGHIJK", "12345678901", false, "ABCDEFGHIJx"},
        ScanCase{"LongerThanOneWordAtAnOddOffset", "\x01\x02\x03\x04\x05\x06\x07\x08\x09_pattern!", "_pattern!",
                 "_REPLACED", true, "\x01\x02\x03\x04\x05\x06\x07\x08\x09_REPLACED"},
        ScanCase{"BytesWithTheHighBitAndNuls", std::string("\x00\xFF\x90\x00\xC3", 5), std::string("\xFF\x90\x00", 3),
                 std::string("\x00\x00\x00", 3), true, std::string("\x00\x00\x00\x00\xC3", 5)},
        ScanCase{"Absent", "nothing to see here", "ABCDEF", "123456", false, "nothing to see here"}),
    [](const testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

TEST(PatchFile, EmptyFileGivesFalseAndStaysEmpty) {
    TempDir dir;
    std::string path = dir.File("rally.exe");
    WriteAll(path, {});
    EXPECT_FALSE(Patch(path, "ABC", "123"));
    EXPECT_TRUE(ReadAll(path).empty());
}

// Each case prepares a file that may not be changed, and checks that it stays as it was.
struct RefusedCase {
    const char* name;
    void (*prepare)(const std::string& path);
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class PatchFileRefuses : public testing::TestWithParam<RefusedCase> {};

TEST_P(PatchFileRefuses, GivesFalseAndLeavesTheFileAsItWas) {
    TempDir dir;
    std::string path = dir.File("rally.exe");
    std::vector<uint8_t> before = Bytes("..ABCDEF..");
    WriteAll(path, before);
    GetParam().prepare(path);
    EXPECT_FALSE(Patch(path, "ABCDEF", "123456"));
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        EXPECT_EQ(ReadAll(path), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatchFileRefuses,
    testing::Values(
        RefusedCase{"Missing", [](const std::string& path) { unlink(path.c_str()); }},
        RefusedCase{"ReadOnly", [](const std::string& path) { chmod(path.c_str(), 0444); }},
        RefusedCase{"Directory",
                    [](const std::string& path) {
                        unlink(path.c_str());
                        mkdir(path.c_str(), 0755);
                    }},
        RefusedCase{"Fifo",
                    [](const std::string& path) {
                        unlink(path.c_str());
                        mkfifo(path.c_str(), 0644);
                    }}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

class PatchFileHeldElsewhere : public testing::TestWithParam<OtherProcess::Hold> {};

TEST_P(PatchFileHeldElsewhere, GivesFalseWhileAnotherProcessHoldsTheFile) {
    TempDir dir;
    std::string path = dir.File("rally.exe");
    std::vector<uint8_t> before = Bytes("..ABCDEF..");
    WriteAll(path, before);
    {
        OtherProcess game(path, GetParam());
        EXPECT_FALSE(Patch(path, "ABCDEF", "123456"));
        EXPECT_EQ(ReadAll(path), before);
    }
    // Once the other process is gone the file is free again.
    EXPECT_TRUE(Patch(path, "ABCDEF", "123456"));
}

INSTANTIATE_TEST_SUITE_P(Holds, PatchFileHeldElsewhere,
                         testing::Values(OtherProcess::Hold::OpenDescriptor, OtherProcess::Hold::Mapping));

TEST(PatchFile, GivesFalseWhileAnotherPatcherHoldsTheLock) {
    TempDir dir;
    std::string path = dir.File("rally.exe");
    WriteAll(path, Bytes("..ABCDEF.."));
    int other = open(path.c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_FALSE(Patch(path, "ABCDEF", "123456"));
    close(other);
    EXPECT_TRUE(Patch(path, "ABCDEF", "123456"));
    EXPECT_EQ(ReadAll(path), Bytes("..123456.."));
}

TEST(PatchFile, FileOf4GiBOrMoreIsLeftAlone) {
    // Sparse: costs no disk. The pattern stands at the start, where a scan of the low 32 bits of
    // the size would find it.
    TempDir dir;
    std::string path = dir.File("rally.exe");
    WriteAll(path, Bytes("ABCDEF"));
    ASSERT_EQ(truncate(path.c_str(), (4ll << 30) + 16), 0);
    EXPECT_FALSE(Patch(path, "ABCDEF", "123456"));
    int fd = open(path.c_str(), O_RDONLY);
    char head[6];
    ASSERT_EQ(pread(fd, head, 6, 0), 6);
    close(fd);
    EXPECT_EQ(std::string(head, 6), "ABCDEF");
}

}  // namespace
