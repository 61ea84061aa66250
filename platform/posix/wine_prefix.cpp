#include "platform/posix/wine_prefix.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>

std::string WinePrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.wine";
}

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The entry of directory that is named name, exactly or else without regard to case; the name as
// given when there is none, so that opening it fails as Windows would.
std::string EntryNamed(const std::string& directory, const std::string& name) {
    struct stat st;
    if (name == "." || name == ".." || lstat((directory + "/" + name).c_str(), &st) == 0) return name;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return name;
    std::string found = name;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

std::string UnixPathOf(const std::string& path) {
    size_t start;
    char drive;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
        drive = path[0];
        start = 2;
    } else if (!path.empty() && path[0] == '\\') {
        drive = 'c';  // a path from the root of the current drive; the game's drive is C:
        start = 0;
    } else {
        return path;
    }
    std::string resolved = WinePrefix() + "/dosdevices/" + static_cast<char>(drive | 0x20) + ":";
    size_t i = start;
    while (i < path.size()) {
        while (i < path.size() && IsSeparator(path[i])) ++i;
        size_t end = i;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (end > i) resolved += "/" + EntryNamed(resolved, path.substr(i, end - i));
        i = end;
    }
    return resolved;
}
