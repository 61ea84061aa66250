// Linux back end: where the Windows side of a Wine prefix lives on the Unix file system.
// Only platform/posix uses this; it may use the C++ standard library.
#pragma once

#include <string>

// $WINEPREFIX, else $HOME/.wine.
std::string WinePrefix();

// A path in Windows form (C:\Games\Rally\rally.exe, or \Games\... on drive C:) resolved inside the
// prefix under dosdevices/, each component matched without regard to case as Wine matches it, and
// doubled separators counted as one. Any other path is a Unix path and comes back as it is.
std::string UnixPathOf(const std::string& path);
