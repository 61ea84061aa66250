# The release: 32-bit Windows, code for the Pentium (no CMOV, no MMX, no SSE).
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVANT_ARCH_FLAGS -march=i586 -mtune=pentium CACHE STRING "Code generation for the release; the tests build it for -march=i686 once, to show the Pentium check fails")
# 32-bit symbols carry a leading underscore.
set(QUORVANT_ENTRY _QuorvantEntry)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
