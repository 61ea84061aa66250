#include "platform/posix/code_page.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>

#include "platform/posix/wine_prefix.h"
#include "platform/posix/wine_registry_text.h"

std::string CodePageName(unsigned codePage) {
    return codePage == 65001 ? "UTF-8" : "CP" + std::to_string(codePage);
}

unsigned AnsiCodePageOf(const std::string& systemReg) {
    std::string lines;
    std::string data;
    // Wine writes the key under its own name, and CurrentControlSet as a link to ControlSet001.
    for (const char* key : {"System\\CurrentControlSet\\Control\\Nls\\CodePage",
                            "System\\ControlSet001\\Control\\Nls\\CodePage"}) {
        lines.clear();
        if (!FindRegistryKey(systemReg, key, &lines) || !FindRegistryValue(lines, "ACP", &data)) continue;
        unsigned codePage = static_cast<unsigned>(std::strtoul(data.c_str(), nullptr, 10));
        if (codePage != 0) return codePage;
    }
    return 1252;
}

namespace {

// One pass of iconv over text. Where a character cannot be converted, bad is written for it and
// unit bytes of the source are passed over.
bool Convert(const std::string& text, const char* from, const char* to, size_t unit, const std::string& bad,
             std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out->clear();
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[1024];
    for (;;) {
        char* next = buffer;
        size_t room = sizeof buffer;
        size_t done = inLeft ? iconv(cd, &in, &inLeft, &next, &room) : iconv(cd, nullptr, nullptr, &next, &room);
        out->append(buffer, next - buffer);
        if (done != static_cast<size_t>(-1)) {
            if (inLeft == 0) break;
        } else if (errno != E2BIG) {
            *out += bad;
            size_t skip = unit < inLeft ? unit : inLeft;
            in += skip;
            inLeft -= skip;
        }
    }
    iconv_close(cd);
    return true;
}

}  // namespace

// Through UTF-32, so that a character that fails on either side is exactly one '?'.
bool ConvertText(const std::string& text, const std::string& from, const std::string& to, std::string* out) {
    std::string wide;
    return Convert(text, from.c_str(), "UTF-32LE", 1, std::string("?\0\0\0", 4), &wide) &&
           Convert(wide, "UTF-32LE", to.c_str(), 4, "?", out);
}

bool ConvertFromPrefixAnsi(const std::string& text, const std::string& to, std::string* out) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        *out = text;
        return true;
    }
    std::string systemReg;
    unsigned codePage = ReadSystemRegistry(false, &systemReg) ? AnsiCodePageOf(systemReg) : 1252;
    return ConvertText(text, CodePageName(codePage), to, out);
}

std::string TerminalCharset() {
    std::setlocale(LC_CTYPE, "");
    return nl_langinfo(CODESET);
}
