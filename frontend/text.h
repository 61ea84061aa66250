// Composing texts into fixed buffers, without a C runtime. The caller proves the bound.
#pragma once

#include <cstddef>

// Copies text (up to its NUL) to to, and returns where the copy ends; nothing is terminated.
inline char* AppendText(char* to, const char* text) {
    while (*text) *to++ = *text++;
    return to;
}

// The length of a literal without its NUL, for the bounds proved beside the buffers.
template <size_t N>
constexpr size_t TextLength(const char (&)[N]) {
    return N - 1;
}
