// Any bytes at all as a prefix's system.reg: the lookup never crashes, never reads out of bounds,
// never leaks, and whatever it finds ends inside GamePath.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frontend/install_lookup.h"
#include "platform/posix/wine_registry_text.h"

namespace {

std::string Prefix() {
    static std::string prefix = [] {
        char pattern[] = "/tmp/quorvant-fuzz-XXXXXX";
        std::string made = mkdtemp(pattern);
        setenv("WINEPREFIX", made.c_str(), 1);
        return made;
    }();
    return prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string lines, value;
    if (FindRegistryKey(text, "Software\\Halcyra\\Rally\\1.00", &lines)) FindRegistryValue(lines, "HDPath", &value);

    // The whole lookup, from the file.
    std::string file = Prefix() + "/system.reg";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    GamePath path = FindGameExecutable();
    size_t length = strnlen(path.text, sizeof path.text);
    if (length == sizeof path.text) __builtin_trap();  // not terminated inside the buffer
    if (length > 0 && (length < 10 || std::strcmp(path.text + length - 10, "\\rally.exe") != 0)) __builtin_trap();
    return 0;
}
