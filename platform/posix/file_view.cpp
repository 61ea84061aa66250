// Linux back end of platform/file_view.h: an open(2)ed, flock(2)ed and mmap(2)ed regular file.
// Windows opens the game with share mode 0; here the same exclusivity comes from refusing a file
// that any other process has open or mapped, and from an exclusive lock held while the view lives.

#include "platform/file_view.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/wine_prefix.h"

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

// Windows shows a file whose owner may not write as read-only, and will not open it for writing.
bool IsWritableRegularFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR); }

}  // namespace

bool OpenFileView(const char* path, FileView* view) {
    std::string unixPath = UnixPathOf(path);
    struct stat st;
    // Looked at before opening, so that no device or FIFO is ever opened.
    if (stat(unixPath.c_str(), &st) != 0 || !IsWritableRegularFile(st)) return false;
    int fd = open(unixPath.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    if (fstat(fd, &st) != 0 || !IsWritableRegularFile(st) || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        HeldByAnotherProcess(st)) {
        close(fd);
        return false;
    }
    // An empty file cannot be mapped. One of 4 GiB or more does not fit the 32-bit size: scanning
    // only part of it would be a wrong answer, so it is refused whole.
    if (st.st_size <= 0 || static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) {
        close(fd);
        return false;
    }
    void* bytes = mmap(nullptr, st.st_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (bytes == MAP_FAILED) {
        close(fd);
        return false;
    }
    view->bytes = static_cast<uint8_t*>(bytes);
    view->size = static_cast<uint32_t>(st.st_size);
    view->file = fd;
    view->mapping = 0;
    return true;
}

void CloseFileView(FileView* view) {
    // On the disk before the outcome is shown: a crash or power loss after it cannot undo the patch.
    msync(view->bytes, view->size, MS_SYNC);
    munmap(view->bytes, view->size);
    close(static_cast<int>(view->file));  // releases the lock too
}
