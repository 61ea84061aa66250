#include "engine/file_patcher.h"

#include "platform/file_view.h"

bool SameBytes(const uint8_t* a, const uint8_t* b, uint32_t length) {
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; ++i) {
        uint32_t wordA;
        uint32_t wordB;
        // The bytes may lie at any alignment: a fixed-size copy becomes one unaligned load.
        __builtin_memcpy(&wordA, a + i * 4, 4);
        __builtin_memcpy(&wordB, b + i * 4, 4);
        if (wordA != wordB) return false;
    }
    for (uint32_t i = words * 4; i < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

bool FindFirstMatch(const uint8_t* bytes, uint32_t size, const uint8_t* pattern, uint32_t length,
                    uint32_t* offset) {
    if (size < length) return false;
    uint32_t last = size - length;
    // Ends on p == last rather than p > last, which a last of 0xFFFFFFFF could never reach.
    for (uint32_t p = 0;; ++p) {
        if (SameBytes(bytes + p, pattern, length)) {
            *offset = p;
            return true;
        }
        if (p == last) return false;
    }
}

bool PatchFile(const char* path, const uint8_t* pattern, const uint8_t* replacement, uint32_t length) {
    FileView view;
    if (!OpenFileView(path, &view)) return false;
    uint32_t offset;
    bool found = FindFirstMatch(view.bytes, view.size, pattern, length, &offset);
    if (found) {
        for (uint32_t i = 0; i < length; ++i) view.bytes[offset + i] = replacement[i];
    }
    CloseFileView(&view);
    return found;
}
