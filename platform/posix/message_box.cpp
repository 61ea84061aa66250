// Linux back end of platform/message_box.h: the box on this process's terminal.
#include "platform/message_box.h"

#include <cstdio>

#include "platform/posix/terminal_box.h"

bool ShowMessageBox(const char* text, const char* caption, uint32_t style) {
    return AskOnTerminal(stdin, stdout, text, caption, style);
}
