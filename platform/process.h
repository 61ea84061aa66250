// The end of the process. The start is each back end's own: main() on Linux, an entry point of the
// program's own on Windows; both run RunQuorvant().
#pragma once

// How a run ended, as the main line knows it. Each back end makes its exit code of it: the Windows
// program exits with 0 whatever happened; the Linux program too, unless a script asked for a
// status.
enum class RunEnd { NotInstalled, Cancelled, Applied, AlreadyApplied, NotFound };

[[noreturn]] void ExitProgram(RunEnd end);

// The main line, in quorvant.cpp.
[[noreturn]] void RunQuorvant();
