#include "platform/posix/wine_registry_text.h"

#include <cstdint>

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::string::traits_type::length(prefix), prefix) == 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | (code >> 6));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | (code >> 12));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (code >> 18));
        *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Turns the UTF-16 units that \x escapes give into UTF-8, pairing surrogates; a lone one becomes
// U+FFFD.
struct Utf16Pending {
    uint32_t high = 0;

    void Add(uint32_t unit, std::string* out) {
        if (unit >= 0xDC00 && unit <= 0xDFFF && high) {
            AppendUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
            high = 0;
            return;
        }
        Flush(out);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            high = unit;
        } else {
            AppendUtf8(unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : unit, out);
        }
    }
    void Flush(std::string* out) {
        if (high) AppendUtf8(0xFFFD, out);
        high = 0;
    }
};

// Reads an escaped name or string starting at *at up to the unescaped terminator, and leaves *at
// just past it. False when the terminator never comes.
bool ReadEscaped(const std::string& text, size_t* at, char terminator, std::string* out) {
    Utf16Pending pending;
    size_t i = *at;
    while (i < text.size()) {
        char c = text[i++];
        if (c == terminator) {
            pending.Flush(out);
            *at = i;
            return true;
        }
        if (c != '\\') {
            pending.Flush(out);
            *out += c;  // bytes beyond ASCII come as UTF-8 already
            continue;
        }
        if (i == text.size()) return false;
        c = text[i++];
        uint32_t unit;
        switch (c) {
            case 'a': unit = '\a'; break;
            case 'b': unit = '\b'; break;
            case 'e': unit = 0x1B; break;
            case 'f': unit = '\f'; break;
            case 'n': unit = '\n'; break;
            case 'r': unit = '\r'; break;
            case 't': unit = '\t'; break;
            case 'v': unit = '\v'; break;
            case 'x':  // one to four hex digits: a UTF-16 unit; without any, the letter itself
                unit = 'x';
                for (int n = 0; n < 4 && i < text.size() && HexDigit(text[i]) >= 0; ++n) {
                    unit = (n == 0 ? 0 : unit * 16) + HexDigit(text[i++]);
                }
                break;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7':
                unit = c - '0';
                for (int n = 1; n < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++n) {
                    unit = unit * 8 + (text[i++] - '0');
                }
                break;
            default:  // \\, \" and any other escaped byte stand for themselves
                pending.Flush(out);
                *out += c;
                continue;
        }
        pending.Add(unit, out);
    }
    return false;
}

// The line that starts at *at, without its line break; *at moves to the next line.
std::string NextLine(const std::string& text, size_t* at) {
    size_t end = text.find('\n', *at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(*at, end - *at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    *at = end < text.size() ? end + 1 : end;
    return line;
}

bool ReadHexBytes(const std::string& list, std::string* data) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
        if (i == list.size()) break;
        int high = HexDigit(list[i]);
        if (high < 0) return false;
        int value = high;
        ++i;
        if (i < list.size() && HexDigit(list[i]) >= 0) value = value * 16 + HexDigit(list[i++]);
        *data += static_cast<char>(value);
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
        if (i < list.size() && list[i++] != ',') return false;
    }
    return true;
}

bool ReadValueData(const std::string& value, std::string* data, bool* text) {
    *text = false;
    size_t at = 0;
    if (StartsWith(value, 0, "str(")) {
        at = value.find("):", 4);
        if (at == std::string::npos) return false;
        at += 2;
    }
    if (at < value.size() && value[at] == '"') {
        ++at;
        if (!ReadEscaped(value, &at, '"', data)) return false;
        *data += '\0';
        *text = true;
        return true;
    }
    if (StartsWith(value, 0, "dword:")) {
        if (value.size() < 14) return false;
        uint32_t number = 0;
        for (size_t i = 6; i < 14; ++i) {
            if (HexDigit(value[i]) < 0) return false;
            number = number * 16 + HexDigit(value[i]);
        }
        for (int i = 0; i < 4; ++i) *data += static_cast<char>(number >> (8 * i));
        return true;
    }
    if (StartsWith(value, 0, "hex:")) return ReadHexBytes(value.substr(4), data);
    if (StartsWith(value, 0, "hex(")) {
        at = value.find("):", 4);
        return at != std::string::npos && ReadHexBytes(value.substr(at + 2), data);
    }
    return false;
}

}  // namespace

bool FindRegistryKey(const std::string& text, const std::string& subkey, std::string* lines) {
    size_t at = 0;
    if (NextLine(text, &at) != "WINE REGISTRY Version 2") return false;
    std::string wanted = subkey;
    bool inKey = false;
    while (at < text.size()) {
        std::string line = NextLine(text, &at);
        if (line == "#arch=win64") {
            // A 32-bit program in a 64-bit prefix sees Software\ through Software\Wow6432Node\.
            if (SameName(subkey.substr(0, 9), "Software\\")) wanted = "Software\\Wow6432Node\\" + subkey.substr(9);
            continue;
        }
        if (line.empty() || line[0] != '[') {
            if (inKey) *lines += line + "\n";
            continue;
        }
        if (inKey) return true;
        size_t nameAt = 1;
        std::string name;
        inKey = ReadEscaped(line, &nameAt, ']', &name) && SameName(name, wanted);
    }
    return inKey;
}

bool FindRegistryValue(const std::string& lines, const std::string& name, std::string* data, bool* text) {
    size_t at = 0;
    while (at < lines.size()) {
        std::string line = NextLine(lines, &at);
        size_t i = 0;
        std::string valueName;
        if (StartsWith(line, 0, "@=")) {
            i = 1;
        } else if (StartsWith(line, 0, "\"")) {
            i = 1;
            if (!ReadEscaped(line, &i, '"', &valueName)) continue;
        } else {
            continue;  // a comment, a #time line, or a continuation of another value
        }
        if (i >= line.size() || line[i] != '=' || !SameName(valueName, name)) continue;
        std::string value = line.substr(i + 1);
        // A hex list goes on over the following lines while a line ends in a backslash.
        while (StartsWith(value, 0, "hex") && value.back() == '\\' && at < lines.size()) {
            value.pop_back();
            std::string more = NextLine(lines, &at);
            size_t first = more.find_first_not_of(" \t");
            if (first != std::string::npos) value += more.substr(first);
        }
        data->clear();
        bool isText;
        if (text == nullptr) text = &isText;
        return ReadValueData(value, data, text);
    }
    return false;
}
