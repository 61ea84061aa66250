#include "frontend/install_lookup.h"

#include "platform/registry.h"

namespace {

constexpr char kInstallKey[] = "Software\\Halcyra\\Rally\\1.00";
constexpr char kInstallDirectoryValue[] = "HDPath";

}  // namespace

GamePath FindGameExecutable() {
    GamePath path = {};
    RegistryKey key;
    if (!OpenMachineKey(kInstallKey, &key)) return path;
    // All zero before the read, and one byte longer than the read may fill: whatever the value's
    // type, its text ends inside the buffer.
    uint8_t directory[kLongestInstallDirectory + 1] = {};
    uint32_t size = kLongestInstallDirectory;
    if (QueryRegistryValue(key, kInstallDirectoryValue, directory, &size)) {
        char* end = AppendText(path.text, reinterpret_cast<const char*>(directory));
        AppendText(end, kExecutableName);
    }
    CloseRegistryKey(key);
    return path;
}
