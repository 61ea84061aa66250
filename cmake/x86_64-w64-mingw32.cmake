# The same sources for x86-64, run under wine64 by the end-to-end tests.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVANT_ARCH_FLAGS "")
set(QUORVANT_ENTRY QuorvantEntry)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
