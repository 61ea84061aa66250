// Linux back end of platform/registry.h: HKEY_LOCAL_MACHINE is the system.reg of a Wine prefix, a
// text file that Wine writes as
//
//   WINE REGISTRY Version 2
//   #arch=win64
//   [Software\\Wow6432Node\\Halcyra\\Rally\\1.00] 1700000000
//   "HDPath"="C:\\Games\\Rally"
//
// Names and strings are escaped as C strings are, with \xNNNN for UTF-16 units beyond ASCII. The
// whole file is read on opening the key; a query parses the key's own lines, and gives a string in
// the prefix's ANSI code page, as RegQueryValueExA gives it to the release there.

#include "platform/registry.h"

#include <cstring>
#include <string>

#include "platform/posix/code_page.h"
#include "platform/posix/wine_prefix.h"
#include "platform/posix/wine_registry_text.h"

namespace {

struct OpenKey {
    std::string lines;  // the key's values, one a line
    unsigned codePage;  // the prefix's ANSI code page, in which a 32-bit program reads strings
};

}  // namespace

bool OpenMachineKey(const char* subkey, RegistryKey* key) {
    // Opened for writing as well: a user who may not change the machine's registry cannot open its
    // keys with full access on Windows either.
    std::string text;
    std::string lines;
    if (!ReadSystemRegistry(true, &text) || !FindRegistryKey(text, subkey, &lines)) return false;
    key->handle = reinterpret_cast<intptr_t>(new OpenKey{lines, AnsiCodePageOf(text)});
    return true;
}

bool QueryRegistryValue(RegistryKey key, const char* name, uint8_t* buffer, uint32_t* size) {
    const OpenKey* open = reinterpret_cast<const OpenKey*>(key.handle);
    std::string data;
    bool text;
    if (!FindRegistryValue(open->lines, name, &data, &text)) return false;
    // RegQueryValueExA gives a string in the ANSI code page, and the size limit counts those bytes.
    if (text) {
        std::string ansi;
        if (!ConvertText(data, "UTF-8", CodePageName(open->codePage), &ansi)) return false;
        data = ansi;
    }
    if (data.size() > *size) return false;
    std::memcpy(buffer, data.data(), data.size());
    *size = static_cast<uint32_t>(data.size());
    return true;
}

void CloseRegistryKey(RegistryKey key) { delete reinterpret_cast<OpenKey*>(key.handle); }
