// Windows back end of platform/file_view.h: the file opened with share mode 0, a read-write mapping
// of all of it, and a writable view of that mapping. Every failure releases what was acquired, in
// reverse order, and gives false.
#include <windows.h>

#include "platform/file_view.h"

bool OpenFileView(const char* path, FileView* view) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    // 0xFFFFFFFF is also a size: only the error code tells a failure.
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file);
        return false;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (!mapping) {  // also for an empty file
        CloseHandle(file);
        return false;
    }
    void* bytes = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (!bytes) {
        CloseHandle(mapping);
        CloseHandle(file);
        return false;
    }
    view->bytes = static_cast<uint8_t*>(bytes);
    view->size = size;
    view->file = reinterpret_cast<intptr_t>(file);
    view->mapping = reinterpret_cast<intptr_t>(mapping);
    view->writtenAt = 0;
    view->writtenLength = 0;
    return true;
}

// The unmap hands the written pages to the file; Windows writes them out in its own time.
void CloseFileView(FileView* view) {
    UnmapViewOfFile(view->bytes);
    CloseHandle(reinterpret_cast<HANDLE>(view->mapping));
    CloseHandle(reinterpret_cast<HANDLE>(view->file));
}
