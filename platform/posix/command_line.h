// Linux back end: the command line of the Linux program. Windows reads none; on Linux a script may
// ask for a run that confirms by itself and tells the outcome in its exit status.
#pragma once

enum class Invocation { Interactive, ConfirmWithoutAsking, Help, Version, Unknown };

// What the arguments after the program's name ask for: none, or exactly one option.
Invocation ParseCommandLine(int argc, const char* const* argv);

// Set by main() once, for the back end's boxes and exit.
void SetInvocation(Invocation invocation);
bool ConfirmsWithoutAsking();

extern const char kUsage[];
