// Quorvant: makes the rally game's rally.exe run under Windows 2000. Finds the game, asks, patches,
// reports, and exits with code 0 whatever happened.

#include "engine/patch_catalogue.h"
#include "frontend/install_lookup.h"
#include "frontend/messages.h"
#include "platform/message_box.h"
#include "platform/process.h"

void RunQuorvant() {
    GamePath path = FindGameExecutable();
    if (path.text[0] == '\0') {
        ShowMessageBox(NotInstalledBox.text, Caption, NotInstalledBox.style);
        ExitProgram(0);
    }
    ConfirmText confirm = ComposeConfirmText(path.text);
    if (!ShowMessageBox(confirm.text, Caption, kConfirmStyle)) ExitProgram(0);
    BoxText outcome = OutcomeBox(RunPatchRecipe(path.text));
    ShowMessageBox(outcome.text, Caption, outcome.style);
    ExitProgram(0);
}
