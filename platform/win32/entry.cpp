// Windows back end of platform/process.h: the program's entry point, called by the loader with no
// C runtime before it, and its end.
#include <windows.h>

#include "platform/process.h"

// Exit code 0 on every path: the outcome was told in its box.
void ExitProgram(RunEnd) { ExitProcess(0); }

extern "C" void QuorvantEntry() { RunQuorvant(); }
