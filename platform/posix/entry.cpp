// Linux back end of platform/process.h: the program starts in main() and ends in exit().
#include <cstdlib>

#include "platform/process.h"

void ExitProgram(unsigned code) { std::exit(static_cast<int>(code)); }

int main() { RunQuorvant(); }
