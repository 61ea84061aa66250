// Helpers shared by the tests: a temporary folder that cleans up after itself, files in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/game_fixture.h"

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<uint8_t> Bytes(const std::string& text);
std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);

// The offsets at which a and b differ (they must have the same length).
std::vector<size_t> DifferingOffsets(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// A second process that holds path the way another program would, until the object goes away.
class OtherProcess {
public:
    enum class Hold { OpenDescriptor, Mapping, Lock };
    OtherProcess(const std::string& path, Hold hold);
    ~OtherProcess();
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

private:
    int pid_ = -1;
};
