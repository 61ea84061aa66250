#include "platform/posix/wine_prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cstdlib>

#include "platform/posix/code_page.h"

std::string WinePrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.wine";
}

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

}  // namespace

bool ReadSystemRegistry(bool forWriting, std::string* text) {
    int fd = open((WinePrefix() + "/system.reg").c_str(),
                  (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    text->clear();
    bool read = ReadWhole(fd, text);
    close(fd);
    return read;
}

namespace {

// The letters of a UTF-8 name, each raised to upper case as Unicode has it. A byte that is no part
// of a well-formed letter stands for itself, apart from every letter.
std::u32string UpperLetters(const std::string& name) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    std::u32string letters;
    for (size_t i = 0; i < name.size();) {
        unsigned char lead = static_cast<unsigned char>(name[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t letter = length == 1 ? lead : length ? lead & (0x7F >> length) : 0;
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = i + k < name.size() ? static_cast<unsigned char>(name[i + k]) : 0;
            if ((next & 0xC0) != 0x80) length = 0;
            letter = (letter << 6) | (next & 0x3F);
        }
        if (length == 0) {
            letters += static_cast<char32_t>(0x110000 + lead);  // outside Unicode: equal only to itself
            ++i;
            continue;
        }
        letters += utf8 ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(letter), utf8)) : letter;
        i += length;
    }
    return letters;
}

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
    std::u32string wanted = UpperLetters(name);
    while (dirent* entry = readdir(dir)) {
        if (UpperLetters(entry->d_name) == wanted) {
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
    // Wine's names on disk are UTF-8. The separators are found after converting: in a double-byte
    // code page such as 932 the second byte of a character may be 0x5C, the backslash.
    std::string utf8;
    if (!ConvertFromPrefixAnsi(path.substr(start), "UTF-8", &utf8)) utf8 = path.substr(start);
    std::string resolved = WinePrefix() + "/dosdevices/" + static_cast<char>(drive | 0x20) + ":";
    size_t i = 0;
    while (i < utf8.size()) {
        while (i < utf8.size() && IsSeparator(utf8[i])) ++i;
        size_t end = i;
        while (end < utf8.size() && !IsSeparator(utf8[end])) ++end;
        if (end > i) resolved += "/" + EntryNamed(resolved, utf8.substr(i, end - i));
        i = end;
    }
    return resolved;
}
