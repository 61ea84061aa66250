// What the install lookup needs of the operating system: one key of the machine-wide registry,
// opened with full access, and one value read from it. platform/win32 and platform/posix implement
// it; every failure beneath is folded into a false result.
#pragma once

#include <cstdint>

struct RegistryKey {
    intptr_t handle;  // the back end's own
};

// Opens subkey of HKEY_LOCAL_MACHINE with full access, as a 32-bit program sees the registry.
bool OpenMachineKey(const char* subkey, RegistryKey* key);

// Copies the data of value name into buffer, at most *size bytes; a string brings its NUL, other
// data comes as it is. On success *size is the count copied. Fails when the value is missing or its
// data exceeds *size bytes.
bool QueryRegistryValue(RegistryKey key, const char* name, uint8_t* buffer, uint32_t* size);

void CloseRegistryKey(RegistryKey key);
