#include "tests/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

TempDir::TempDir() {
    char pattern[] = "/tmp/quorvant-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "/nonexistent";
}

TempDir::~TempDir() {
    std::error_code ignored;
    // A test may leave read-only files and folders behind; give them back before removing.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadBytes(path, &bytes)) << path;
    return bytes;
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(WriteBytes(path, bytes)) << path;
}

std::vector<size_t> DifferingOffsets(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    EXPECT_EQ(a.size(), b.size());
    std::vector<size_t> offsets;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) offsets.push_back(i);
    }
    return offsets;
}

OtherProcess::OtherProcess(const std::string& path, Hold hold) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        int fd = open(path.c_str(), O_RDWR);
        if (fd < 0) _exit(1);
        if (hold == Hold::Lock && flock(fd, LOCK_EX) != 0) _exit(1);  // as another patcher would
        if (hold == Hold::Mapping) {
            // Mapped, then the descriptor closed: only /proc/PID/maps still shows the file.
            if (mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED) _exit(1);
            close(fd);
        }
        if (write(ready[1], "r", 1) != 1) _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char signal;
    EXPECT_EQ(read(ready[0], &signal, 1), 1) << "the other process could not take " << path;
    close(ready[0]);
}

OtherProcess::~OtherProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}
