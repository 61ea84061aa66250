#include "platform/posix/file_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

bool IsProcessDirectory(const char* name) {
    if (!*name) return false;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

bool HasOpenDescriptor(const std::string& process, const struct stat& file) {
    std::string fds = process + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir) return false;  // a process we may not look into cannot be judged; Windows would know
    bool held = false;
    while (dirent* entry = readdir(dir)) {
        struct stat target;
        if (entry->d_name[0] == '.') continue;
        if (stat((fds + "/" + entry->d_name).c_str(), &target) != 0) continue;
        if (target.st_dev == file.st_dev && target.st_ino == file.st_ino) {
            held = true;
            break;
        }
    }
    closedir(dir);
    return held;
}

bool HasMapping(const std::string& process, const struct stat& file) {
    FILE* maps = std::fopen((process + "/maps").c_str(), "r");
    if (!maps) return false;
    bool mapped = false;
    char line[4096];
    while (!mapped && std::fgets(line, sizeof line, maps)) {
        unsigned major_id, minor_id;
        unsigned long long inode;
        // address perms offset major:minor inode [path]
        if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major_id, &minor_id, &inode) == 3) {
            mapped = inode == file.st_ino && major_id == major(file.st_dev) && minor_id == minor(file.st_dev);
        }
    }
    std::fclose(maps);
    return mapped;
}

}  // namespace

bool HeldByAnotherProcess(const struct stat& file) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    std::string self = std::to_string(getpid());
    bool held = false;
    while (!held) {
        dirent* entry = readdir(proc);
        if (!entry) break;
        if (!IsProcessDirectory(entry->d_name) || self == entry->d_name) continue;
        std::string process = std::string("/proc/") + entry->d_name;
        held = HasOpenDescriptor(process, file) || HasMapping(process, file);
    }
    closedir(proc);
    return held;
}

Sharing SharingByLease(int fd) {
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return Sharing::Alone;
    }
    return errno == EAGAIN ? Sharing::Shared : Sharing::Unknown;
}
