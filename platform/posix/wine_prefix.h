// Linux back end: where the Windows side of a Wine prefix lives on the Unix file system.
// Only platform/posix uses this; it may use the C++ standard library.
#pragma once

#include <string>

// $WINEPREFIX, else $HOME/.wine.
std::string WinePrefix();

// The whole text of the prefix's system.reg (HKEY_LOCAL_MACHINE), opened for writing as well when
// forWriting. False when it cannot be opened or read.
bool ReadSystemRegistry(bool forWriting, std::string* text);

// A path in Windows form (C:\Games\Rally\rally.exe, or \Games\... on drive C:), in the prefix's
// ANSI code page, resolved inside the prefix under dosdevices/ as a UTF-8 path: each component
// matched without regard to case over all of Unicode as Wine matches it, and doubled separators
// counted as one. Any other path is a Unix path and comes back as it is.
std::string UnixPathOf(const std::string& path);
