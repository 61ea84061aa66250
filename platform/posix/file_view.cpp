// Linux back end of platform/file_view.h: an open(2)ed, flock(2)ed and mmap(2)ed regular file.
// Windows opens the game with share mode 0; here the same exclusivity comes from refusing a file
// that any other process has open or mapped (asked of a lease, else found under /proc), and from an
// exclusive lock held while the view lives.

#include "platform/file_view.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/posix/file_holders.h"
#include "platform/posix/wine_prefix.h"

namespace {

bool OpenedElsewhere(int fd, const struct stat& file) {
    switch (SharingByLease(fd)) {
        case Sharing::Alone: return false;
        case Sharing::Shared: return true;
        case Sharing::Unknown: break;
    }
    return HeldByAnotherProcess(file);
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
    if (fstat(fd, &st) != 0 || !IsWritableRegularFile(st) || OpenedElsewhere(fd, st) ||
        flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    // An empty file cannot be mapped. One of 4 GiB or more does not fit the 32-bit size: scanning
    // only part of it would be a wrong answer, so it is refused whole.
    if (st.st_size <= 0 || static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) {
        close(fd);
        return false;
    }
    // The scan reads every page from the first to the last: all of them are mapped in this one
    // call (read faults only, so nothing is made dirty), not faulted in one by one.
    void* bytes = mmap(nullptr, st.st_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (bytes == MAP_FAILED) {
        close(fd);
        return false;
    }
    madvise(bytes, st.st_size, MADV_SEQUENTIAL);
    view->bytes = static_cast<uint8_t*>(bytes);
    view->size = static_cast<uint32_t>(st.st_size);
    view->file = fd;
    view->mapping = 0;
    view->writtenAt = 0;
    view->writtenLength = 0;
    return true;
}

void CloseFileView(FileView* view) {
    // What was written is on the disk before the outcome is shown: a crash or power loss after it
    // cannot undo the patch. Only the pages written are synced; a view that was only read needs none.
    if (view->writtenLength > 0) {
        uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        uintptr_t from = reinterpret_cast<uintptr_t>(view->bytes + view->writtenAt) / page * page;
        uintptr_t to = reinterpret_cast<uintptr_t>(view->bytes + view->writtenAt + view->writtenLength);
        msync(reinterpret_cast<void*>(from), to - from, MS_SYNC);
    }
    munmap(view->bytes, view->size);
    close(static_cast<int>(view->file));  // releases the lock too
}
