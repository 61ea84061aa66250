// Windows back end of platform/registry.h: advapi32's registry calls, each failure giving false.
#include <windows.h>

#include "platform/registry.h"

bool OpenMachineKey(const char* subkey, RegistryKey* key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return false;
    key->handle = reinterpret_cast<intptr_t>(handle);
    return true;
}

bool QueryRegistryValue(RegistryKey key, const char* name, uint8_t* buffer, uint32_t* size) {
    DWORD bytes = *size;
    if (RegQueryValueExA(reinterpret_cast<HKEY>(key.handle), name, nullptr, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
        return false;
    }
    *size = bytes;
    return true;
}

void CloseRegistryKey(RegistryKey key) { RegCloseKey(reinterpret_cast<HKEY>(key.handle)); }
