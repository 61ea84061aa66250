// Searching a file for a byte pattern and overwriting the first match in place.
#pragma once

#include <cstdint>

// True when the length bytes at a and at b are equal. Compares whole 32-bit words first, then the
// remaining length mod 4 bytes, and stops at the first difference.
bool SameBytes(const uint8_t* a, const uint8_t* b, uint32_t length);

// Looks for pattern at every offset of bytes[0, size) in ascending order, one byte at a time, and
// sets *offset to the lowest match. Reads nothing at or beyond bytes + size; a range shorter than
// the pattern has no offset to test.
bool FindFirstMatch(const uint8_t* bytes, uint32_t size, const uint8_t* pattern, uint32_t length,
                    uint32_t* offset);

// Opens the file at path exclusively, overwrites the first occurrence of pattern with replacement
// (both length bytes long; they may be the same block) and closes it again. True exactly when a match
// was found and written; every failure leaves the file as it was and gives false.
bool PatchFile(const char* path, const uint8_t* pattern, const uint8_t* replacement, uint32_t length);
