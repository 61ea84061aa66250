// The routines the compiler may call by itself (struct copies, zeroed buffers) where no C runtime
// provides them. Plain byte loops: the program copies a few hundred bytes at the most.
#include <cstddef>

extern "C" void* memcpy(void* to, const void* from, size_t count) {
    unsigned char* t = static_cast<unsigned char*>(to);
    const unsigned char* f = static_cast<const unsigned char*>(from);
    while (count--) *t++ = *f++;
    return to;
}

extern "C" void* memset(void* to, int value, size_t count) {
    unsigned char* t = static_cast<unsigned char*>(to);
    while (count--) *t++ = static_cast<unsigned char>(value);
    return to;
}
