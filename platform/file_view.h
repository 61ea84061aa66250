// What the engine needs of the operating system to change a file: an exclusive, writable view of
// the whole file, whose writes reach the file. Declared in the core's words; platform/win32 and
// platform/posix each implement it, and fold every failure beneath into a false result.
#pragma once

#include <cstdint>

struct FileView {
    uint8_t* bytes;   // the whole file, writable
    uint32_t size;    // its length in bytes, at least 1
    intptr_t file;    // the back end's own handles, released by CloseFileView
    intptr_t mapping;
    uint32_t writtenAt;      // the bytes the caller wrote through the view, if any: OpenFileView
    uint32_t writtenLength;  // sets none, the caller notes what it wrote before closing
};

// Opens an existing file for reading and writing while no other opener is admitted, and maps all of
// it. False for a missing, read-only, empty or busy file; nothing stays acquired then.
bool OpenFileView(const char* path, FileView* view);

// Releases the view, the mapping and the file, in that order; writes made through the view are on
// the file afterwards (where the back end must flush them, it flushes the bytes noted as written).
void CloseFileView(FileView* view);
