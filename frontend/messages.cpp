#include "frontend/messages.h"

#include "platform/message_box.h"

const char Caption[] = "Patch Velmora Rally for Windows 2000 - Version 1.1";

// "even \r": the line break follows a blank, as the message always had it.
const BoxText NotInstalledBox = {
    "Velmora Rally isn't installed.\r\r"
    "Must install with Windows 2000 even \r"
    "if already installed with Windows 95/98/ME.",
    kBoxOk | kBoxIconHand};

const uint32_t kConfirmStyle = kBoxOkCancel | kBoxIconAsterisk;

BoxText OutcomeBox(PatchOutcome outcome) {
    switch (outcome) {
        case PatchOutcome::Applied:
            return {"Patch applied successfully.\rProgram will now close.", kBoxOk | kBoxIconAsterisk};
        case PatchOutcome::AlreadyApplied:
            return {"Patch already applied.\rProgram will now close.", kBoxOk | kBoxIconExclamation};
        case PatchOutcome::NotFound:
            break;
    }
    return {"Patch failed. Code pattern not found.\rProgram will now close.", kBoxOk | kBoxIconHand};
}

ConfirmText ComposeConfirmText(const char* gamePath) {
    ConfirmText confirm;
    char* end = AppendText(confirm.text, kConfirmAnnouncement);
    end = AppendText(end, gamePath);
    end = AppendText(end, kConfirmQuestion);
    end = AppendText(end, kConfirmCredit);
    end = AppendText(end, kConfirmUpdates);
    *end = '\0';
    return confirm;
}
