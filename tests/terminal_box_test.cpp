#include "platform/posix/terminal_box.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/message_box.h"

namespace {

struct Answered {
    bool ok;
    std::string shown;
};

Answered Ask(const std::string& input, uint32_t style, const char* text = "Line one.\rLine two.") {
    FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    if (input.empty()) in = fopen("/dev/null", "r");  // fmemopen refuses a size of 0
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    bool ok = AskOnTerminal(in, out, text, "Caption", style);
    std::fclose(in);
    std::fclose(out);
    Answered answered{ok, std::string(buffer, size)};
    std::free(buffer);
    return answered;
}

struct AnswerCase {
    const char* input;
    bool ok;
    int asked;  // how many times the buttons were offered
};

TEST(TerminalBox, OkCancelBoxReadsTheAnswer) {
    const AnswerCase cases[] = {
        {"\n", true, 1},          {"ok\n", true, 1},           {"OK\n", true, 1},
        {"Ok", true, 1},          {"cancel\n", false, 1},      {"CANCEL\r\n", false, 1},
        {"", false, 1},           {"yes\nmaybe\nok\n", true, 3}, {"what\n", false, 2},
        {"okay\ncancel\n", false, 2},
    };
    for (const AnswerCase& c : cases) {
        Answered answered = Ask(c.input, kBoxOkCancel | kBoxIconAsterisk);
        EXPECT_EQ(answered.ok, c.ok) << c.input;
        size_t asked = 0;
        for (size_t at = 0; (at = answered.shown.find("> ", at)) != std::string::npos; ++at) ++asked;
        EXPECT_EQ(asked, static_cast<size_t>(c.asked)) << c.input;
    }
}

TEST(TerminalBox, OkBoxClosesOnAnyLineOrTheEndOfInput) {
    for (const char* input : {"", "\n", "whatever\n", "cancel\n"}) {
        Answered answered = Ask(input, kBoxOk | kBoxIconHand);
        EXPECT_EQ(answered.shown.find("[Cancel]"), std::string::npos);
        EXPECT_EQ(answered.shown.find("again"), std::string::npos);
    }
}

TEST(TerminalBox, ShowsCaptionKindTextAndButtons) {
    struct {
        uint32_t style;
        const char* shown;
    } const cases[] = {
        {kBoxOkCancel | kBoxIconAsterisk, "\nCaption  (information)\n\nLine one.\nLine two.\n\n[OK] [Cancel]\n> "},
        {kBoxOk | kBoxIconAsterisk, "\nCaption  (information)\n\nLine one.\nLine two.\n\n[OK]\n> "},
        {kBoxOk | kBoxIconExclamation, "\nCaption  (warning)\n\nLine one.\nLine two.\n\n[OK]\n> "},
        {kBoxOk | kBoxIconHand, "\nCaption  (error)\n\nLine one.\nLine two.\n\n[OK]\n> "},
    };
    for (const auto& c : cases) EXPECT_EQ(Ask("\n", c.style).shown, c.shown);
}

}  // namespace
