// Linux back end: a message box on a terminal. Takes its streams, so that tests can script it.
#pragma once

#include <cstdint>
#include <cstdio>

// Writes the caption with the kind of box beside it on a line of its own, the text with each
// carriage return as a line break, and the buttons: [OK] or [OK] [Cancel]. Then reads one line from
// in: empty or "ok" (any case) is OK; "cancel" (any case) or the end of input is Cancel; anything
// else asks again. A box with OK alone closes on any line or at the end of input.
bool AskOnTerminal(FILE* in, FILE* out, const char* text, const char* caption, uint32_t style);

// The same box answered by the program itself, for a run that confirms without asking: writes it
// to out as AskOnTerminal does, then "OK" as the answer, and gives true.
bool ShowOnTerminalAnsweringOk(FILE* out, const char* text, const char* caption, uint32_t style);
