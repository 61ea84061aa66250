# The Windows program: no C runtime at all. Our own entry point runs the main line and ends with
# ExitProcess; the few routines the compiler may call by itself live in platform/win32/runtime.cpp.
# So the import table holds the program's own calls and nothing else, and no instruction from a
# prebuilt runtime (built for the Pentium Pro) can reach the release.
enable_language(RC)

set(WINDOWS_COMPILE_OPTIONS
    ${QUORVANT_ARCH_FLAGS}
    -Os -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -fno-stack-check -mno-stack-arg-probe
    # Keeps our memcpy and memset from being turned into calls to themselves.
    -fno-tree-loop-distribute-patterns
    -Wall -Wextra -Werror)
set(WINDOWS_LINK_OPTIONS
    -nostdlib -nostartfiles -s
    -Wl,--entry=${QUORVANT_ENTRY}
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--gc-sections)

add_executable(quorvant WIN32
    quorvant.cpp
    ${CORE_SOURCES}
    platform/win32/entry.cpp
    platform/win32/file_view.cpp
    platform/win32/message_box.cpp
    platform/win32/registry.cpp
    platform/win32/runtime.cpp
    resources/quorvant.rc)
target_include_directories(quorvant PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(quorvant PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${WINDOWS_COMPILE_OPTIONS} -ffunction-sections -fdata-sections>)
target_link_options(quorvant PRIVATE ${WINDOWS_LINK_OPTIONS})
target_link_libraries(quorvant PRIVATE advapi32 kernel32 user32)
