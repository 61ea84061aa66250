// Quorvant: makes the rally game's rally.exe run under Windows 2000. Finds the game, asks, patches,
// reports, and exits with code 0 whatever happened.

#include "engine/patch_catalogue.h"
#include "frontend/install_lookup.h"
#include "frontend/messages.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace {

RunEnd EndOf(PatchOutcome outcome) {
    switch (outcome) {
        case PatchOutcome::Applied: return RunEnd::Applied;
        case PatchOutcome::AlreadyApplied: return RunEnd::AlreadyApplied;
        case PatchOutcome::NotFound: break;
    }
    return RunEnd::NotFound;
}

}  // namespace

void RunQuorvant() {
    GamePath path = FindGameExecutable();
    if (path.text[0] == '\0') {
        ShowMessageBox(NotInstalledBox.text, Caption, NotInstalledBox.style);
        ExitProgram(RunEnd::NotInstalled);
    }
    ConfirmText confirm = ComposeConfirmText(path.text);
    if (!ShowMessageBox(confirm.text, Caption, kConfirmStyle)) ExitProgram(RunEnd::Cancelled);
    PatchOutcome outcome = RunPatchRecipe(path.text);
    BoxText box = OutcomeBox(outcome);
    ShowMessageBox(box.text, Caption, box.style);
    ExitProgram(EndOf(outcome));
}
