#include "frontend/messages.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

TEST(Messages, FixedTextsAndStyles) {
    EXPECT_STREQ(Caption, "Patch Velmora Rally for Windows 2000 - Version 1.1");
    EXPECT_STREQ(NotInstalledBox.text,
                 "Velmora Rally isn't installed.\r\rMust install with Windows 2000 even \rif already installed with "
                 "Windows 95/98/ME.");
    EXPECT_EQ(NotInstalledBox.style, 0x10u);
    EXPECT_EQ(kConfirmStyle, 0x41u);
    struct {
        PatchOutcome outcome;
        const char* text;
        uint32_t style;
    } const outcomes[] = {
        {PatchOutcome::Applied, "Patch applied successfully.\rProgram will now close.", 0x40},
        {PatchOutcome::AlreadyApplied, "Patch already applied.\rProgram will now close.", 0x30},
        {PatchOutcome::NotFound, "Patch failed. Code pattern not found.\rProgram will now close.", 0x10},
    };
    for (const auto& o : outcomes) {
        EXPECT_STREQ(OutcomeBox(o.outcome).text, o.text);
        EXPECT_EQ(OutcomeBox(o.outcome).style, o.style);
    }
}

TEST(Messages, ConfirmTextHoldsTheLongestPathInFull) {
    for (size_t length : {10u, 264u, 265u}) {
        std::string path = std::string(length - 10, 'x') + "\\rally.exe";
        ConfirmText confirm = ComposeConfirmText(path.c_str());
        std::string text = confirm.text;
        EXPECT_EQ(text, "QUORVANT will patch the following file:\r\r" + path +
                            "\r\rPress OK to start patching.\r\rPatch made by the Quorvant project."
                            "\rUpdates on: https://quorvant.example/updates/");
        EXPECT_EQ(text.find('\n'), std::string::npos) << "line breaks are single carriage returns";
    }
}

}  // namespace
