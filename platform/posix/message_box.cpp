// Linux back end of platform/message_box.h and platform/process.h: boxes on the terminal, the
// program's start in main() and its end in exit().

#include "platform/message_box.h"

#include <cstdio>
#include <cstdlib>

#include "platform/posix/terminal_box.h"
#include "platform/process.h"

bool ShowMessageBox(const char* text, const char* caption, uint32_t style) {
    return AskOnTerminal(stdin, stdout, text, caption, style);
}

void ExitProgram(unsigned code) { std::exit(static_cast<int>(code)); }

int main() { RunQuorvant(); }
