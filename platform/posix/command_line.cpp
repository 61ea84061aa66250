#include "platform/posix/command_line.h"

#include <cstring>

namespace {

Invocation current = Invocation::Interactive;

}  // namespace

const char kUsage[] =
    "Usage: quorvant [--yes | --help | --version]\n"
    "\n"
    "Makes Velmora Rally run under Windows 2000. Finds the game's rally.exe through the record its\n"
    "setup left in the registry of a Wine prefix, asks you to confirm, and rewrites two short\n"
    "routines of it in place; no copy of the file is kept. Then says whether the patch was applied\n"
    "now, had been applied before, or failed.\n"
    "\n"
    "The prefix is $WINEPREFIX, or ~/.wine where WINEPREFIX is not set.\n"
    "\n"
    "Each message box is shown on the terminal and waits for one line on standard input: an empty\n"
    "line or \"ok\" answers OK, \"cancel\" answers Cancel; the end of input is Cancel.\n"
    "\n"
    "Options:\n"
    "  --yes      for install scripts: confirm without asking, still showing every box, and\n"
    "             exit with a status that tells the outcome: 0 patch applied or already\n"
    "             applied, 1 code pattern not found, 2 game not installed\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Without an option the exit status is 0 whatever happened, as on Windows.\n";

Invocation ParseCommandLine(int argc, const char* const* argv) {
    if (argc <= 1) return Invocation::Interactive;
    if (argc > 2) return Invocation::Unknown;
    if (std::strcmp(argv[1], "--yes") == 0) return Invocation::ConfirmWithoutAsking;
    if (std::strcmp(argv[1], "--help") == 0) return Invocation::Help;
    if (std::strcmp(argv[1], "--version") == 0) return Invocation::Version;
    return Invocation::Unknown;
}

void SetInvocation(Invocation invocation) { current = invocation; }

bool ConfirmsWithoutAsking() { return current == Invocation::ConfirmWithoutAsking; }
