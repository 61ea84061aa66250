// Linux back end: reading the text of a Wine registry file (system.reg). Pure functions over the
// text, so that any bytes at all can be fed to them.
#pragma once

#include <string>

// The lines of the key named subkey (relative to HKEY_LOCAL_MACHINE, as a 32-bit program names it:
// in a win64 prefix Software\... lies under Software\Wow6432Node\...). False when the text is not a
// Wine registry or has no such key. Names match without regard to case.
bool FindRegistryKey(const std::string& text, const std::string& subkey, std::string* lines);

// The data of value name among a key's lines, as RegQueryValueExA gives it: a string's text in UTF-8
// and its NUL; the raw bytes of hex: and hex(N): values; the four little-endian bytes of a dword.
// False when the value is missing or its line is malformed.
// *text tells a string from other data, when asked for.
bool FindRegistryValue(const std::string& lines, const std::string& name, std::string* data, bool* text = nullptr);
