// Linux back end of platform/message_box.h: the box on this process's terminal, its text moved from
// the prefix's ANSI code page to the terminal's character set.
#include "platform/message_box.h"

#include <cstdio>
#include <string>

#include "platform/posix/code_page.h"
#include "platform/posix/command_line.h"
#include "platform/posix/terminal_box.h"

namespace {

std::string ForTerminal(const char* text) {
    std::string shown;
    if (!ConvertFromPrefixAnsi(text, TerminalCharset(), &shown)) return text;
    return shown;
}

}  // namespace

bool ShowMessageBox(const char* text, const char* caption, uint32_t style) {
    std::string shownText = ForTerminal(text);
    std::string shownCaption = ForTerminal(caption);
    if (ConfirmsWithoutAsking()) {
        return ShowOnTerminalAnsweringOk(stdout, shownText.c_str(), shownCaption.c_str(), style);
    }
    return AskOnTerminal(stdin, stdout, shownText.c_str(), shownCaption.c_str(), style);
}
