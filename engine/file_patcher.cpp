#include "engine/file_patcher.h"

#include "platform/file_view.h"

#if defined(__SSE2__)
#include <emmintrin.h>  // x86-64 has SSE2 always; the 32-bit release is built for the Pentium, without
#endif

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
    uint32_t p = 0;
#if defined(__SSE2__)
    // Sixteen offsets at a time: an offset whose first and last bytes both equal the pattern's goes
    // on to the whole comparison, lowest offset first. The loads end at bytes[p + 15 + length - 1],
    // which is at most bytes[last + length - 1], the file's last byte.
    if (length > 0) {
        const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
        const __m128i final = _mm_set1_epi8(static_cast<char>(pattern[length - 1]));
        for (; last >= 15 && p <= last - 15; p += 16) {
            __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p));
            __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p + length - 1));
            unsigned candidates = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(heads, first), _mm_cmpeq_epi8(tails, final))));
            for (; candidates; candidates &= candidates - 1) {
                uint32_t candidate = p + static_cast<uint32_t>(__builtin_ctz(candidates));
                if (SameBytes(bytes + candidate, pattern, length)) {
                    *offset = candidate;
                    return true;
                }
            }
        }
    }
#endif
    // One offset at a time (the Pentium's whole scan). The pattern's first word is compared right
    // here, and only an offset whose first word matches goes on to SameBytes: on the Pentium a call
    // at every offset would cost several times the comparison itself. The word at an offset up to
    // last ends at or before the file's last byte, since length is at least 4.
    if (length >= 4 && p <= last) {
        uint32_t head;
        __builtin_memcpy(&head, pattern, 4);
        const uint8_t* stop = bytes + last + 1;  // at most bytes + size
        for (const uint8_t* at = bytes + p; at != stop; ++at) {
            uint32_t word;
            __builtin_memcpy(&word, at, 4);
            if (word == head && SameBytes(at, pattern, length)) {
                *offset = static_cast<uint32_t>(at - bytes);
                return true;
            }
        }
        return false;
    }
    // Patterns shorter than a word. Ends on p == last rather than p > last, which a last of
    // 0xFFFFFFFF could never reach.
    for (;; ++p) {
        if (p > last) return false;
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
        view.writtenAt = offset;
        view.writtenLength = length;
    }
    CloseFileView(&view);
    return found;
}
