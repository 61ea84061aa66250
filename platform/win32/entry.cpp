// Windows back end of platform/process.h: the program's entry point, called by the loader with no
// C runtime before it, and its end.
#include <windows.h>

#include "platform/process.h"

void ExitProgram(unsigned code) { ExitProcess(code); }

extern "C" void QuorvantEntry() { RunQuorvant(); }
