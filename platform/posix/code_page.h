// Linux back end: the ANSI code page of a Wine prefix, and text moved between character sets.
// The core works on bytes in the prefix's ANSI code page, as the release does on Windows; the back
// end converts at its edges: registry strings into it, paths out of it to UTF-8 (Wine's names on
// disk), box texts out of it to the terminal's character set.
#pragma once

#include <string>

// The iconv name of a Windows code page: CP1252, CP932, ...; UTF-8 for 65001.
std::string CodePageName(unsigned codePage);

// The ANSI code page that Wine keeps in system.reg text (the ACP value of
// System\CurrentControlSet\Control\Nls\CodePage); 1252 where the text holds none.
unsigned AnsiCodePageOf(const std::string& systemReg);

// text converted from one character set to another, each character the target lacks (or each
// byte the source cannot decode) as one '?'. False when iconv knows either set not.
bool ConvertText(const std::string& text, const std::string& from, const std::string& to, std::string* out);

// text in the prefix's ANSI code page converted to the character set to, as ConvertText does.
// ASCII is the same in every ANSI code page: such a text is given as it is, without reading the
// prefix's system.reg (which can be megabytes) to learn its code page.
bool ConvertFromPrefixAnsi(const std::string& text, const std::string& to, std::string* out);

// The character set of this process's terminal, by its locale (LC_CTYPE from the environment).
std::string TerminalCharset();
