// Both ways the Linux file view tells that another process holds the game: the lease, and the look
// through /proc that stands in where no lease may be taken.
#include "platform/posix/file_holders.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct Seen {
    Sharing lease;
    bool proc;
};

Seen Look(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    struct stat st;
    fstat(fd, &st);
    Seen seen{SharingByLease(fd), HeldByAnotherProcess(st)};
    close(fd);
    return seen;
}

TEST(FileHolders, NobodyElse) {
    TempDir dir;
    WriteAll(dir.File("rally.exe"), Bytes("game"));
    Seen seen = Look(dir.File("rally.exe"));
    EXPECT_EQ(seen.lease, Sharing::Alone);  // the file is ours: its lease is ours to take
    EXPECT_FALSE(seen.proc);
}

class FileHoldersSee : public testing::TestWithParam<OtherProcess::Hold> {};

TEST_P(FileHoldersSee, AnotherProcessHoldingTheFile) {
    TempDir dir;
    WriteAll(dir.File("rally.exe"), Bytes("game"));
    OtherProcess game(dir.File("rally.exe"), GetParam());
    Seen seen = Look(dir.File("rally.exe"));
    EXPECT_EQ(seen.lease, Sharing::Shared);
    EXPECT_TRUE(seen.proc);
}

INSTANTIATE_TEST_SUITE_P(Holds, FileHoldersSee,
                         testing::Values(OtherProcess::Hold::OpenDescriptor, OtherProcess::Hold::Mapping));

}  // namespace
