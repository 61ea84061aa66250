// Linux back end of platform/registry.h: HKEY_LOCAL_MACHINE is the system.reg of a Wine prefix, a
// text file that Wine writes as
//
//   WINE REGISTRY Version 2
//   #arch=win64
//   [Software\\Wow6432Node\\Halcyra\\Rally\\1.00] 1700000000
//   "HDPath"="C:\\Games\\Rally"
//
// Names and strings are escaped as C strings are, with \xNNNN for UTF-16 units beyond ASCII. The
// whole file is read on opening the key; a query parses the key's own lines.

#include "platform/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/posix/wine_prefix.h"
#include "platform/posix/wine_registry_text.h"

namespace {

// More than any real system.reg; a larger file is not a registry.
constexpr size_t kLargestRegistry = 256u << 20;

bool ReadWhole(int fd, std::string* text) {
    char chunk[65536];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0) return false;
        if (got == 0) return true;
        if (text->size() + got > kLargestRegistry) return false;
        text->append(chunk, got);
    }
}

struct OpenKey {
    std::string lines;  // the key's values, one a line
};

}  // namespace

bool OpenMachineKey(const char* subkey, RegistryKey* key) {
    // Opened for writing as well: a user who may not change the machine's registry cannot open its
    // keys with full access on Windows either.
    int fd = open((WinePrefix() + "/system.reg").c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    std::string text;
    bool read = ReadWhole(fd, &text);
    close(fd);
    std::string lines;
    if (!read || !FindRegistryKey(text, subkey, &lines)) return false;
    key->handle = reinterpret_cast<intptr_t>(new OpenKey{lines});
    return true;
}

bool QueryRegistryValue(RegistryKey key, const char* name, uint8_t* buffer, uint32_t* size) {
    const OpenKey* open = reinterpret_cast<const OpenKey*>(key.handle);
    std::string data;
    if (!FindRegistryValue(open->lines, name, &data) || data.size() > *size) return false;
    std::memcpy(buffer, data.data(), data.size());
    *size = static_cast<uint32_t>(data.size());
    return true;
}

void CloseRegistryKey(RegistryKey key) { delete reinterpret_cast<OpenKey*>(key.handle); }
