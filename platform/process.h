// The end of the process. The start is each back end's own: main() on Linux, an entry point of the
// program's own on Windows; both run RunQuorvant().
#pragma once

[[noreturn]] void ExitProgram(unsigned code);

// The main line, in quorvant.cpp.
[[noreturn]] void RunQuorvant();
