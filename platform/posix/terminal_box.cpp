#include "platform/posix/terminal_box.h"

#include <strings.h>

#include <string>

#include "platform/message_box.h"

namespace {

const char* KindOf(uint32_t style) {
    switch (style & 0xF0) {
        case kBoxIconHand: return "error";
        case kBoxIconExclamation: return "warning";
        case kBoxIconAsterisk: return "information";
        default: return "message";
    }
}

// One line of in without its line break; false at the end of input.
bool ReadLine(FILE* in, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') *line += static_cast<char>(c);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return c != EOF || !line->empty();
}

void PrintBox(FILE* out, const char* text, const char* caption, uint32_t style) {
    std::fprintf(out, "\n%s  (%s)\n\n", caption, KindOf(style));
    for (const char* c = text; *c; ++c) std::fputc(*c == '\r' ? '\n' : *c, out);
    std::fputs((style & 0x0F) == kBoxOkCancel ? "\n\n[OK] [Cancel]\n" : "\n\n[OK]\n", out);
}

}  // namespace

bool ShowOnTerminalAnsweringOk(FILE* out, const char* text, const char* caption, uint32_t style) {
    PrintBox(out, text, caption, style);
    std::fputs("> OK\n", out);
    std::fflush(out);
    return true;
}

bool AskOnTerminal(FILE* in, FILE* out, const char* text, const char* caption, uint32_t style) {
    bool withCancel = (style & 0x0F) == kBoxOkCancel;
    PrintBox(out, text, caption, style);
    for (;;) {
        std::fputs("> ", out);
        std::fflush(out);
        std::string answer;
        if (!ReadLine(in, &answer)) {
            std::fputc('\n', out);
            return !withCancel;
        }
        if (!withCancel) return true;
        if (answer.empty() || strcasecmp(answer.c_str(), "ok") == 0) return true;
        if (strcasecmp(answer.c_str(), "cancel") == 0) return false;
        std::fputs("Please answer OK (or an empty line) or Cancel.\n", out);
    }
}
