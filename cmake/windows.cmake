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
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    # No time stamp: the same sources give the same bytes, so anyone can check a download against them.
    -Wl,--no-insert-timestamp
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
# The scan runs millions of times a run: optimised for speed (a rotated loop of five instructions an
# offset on the Pentium), where everything else is optimised for size.
set_source_files_properties(engine/file_patcher.cpp TARGET_DIRECTORY quorvant PROPERTIES COMPILE_OPTIONS -O2)
target_compile_options(quorvant PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${WINDOWS_COMPILE_OPTIONS} -ffunction-sections -fdata-sections>)
target_link_options(quorvant PRIVATE ${WINDOWS_LINK_OPTIONS} -Wl,--entry=${QUORVANT_ENTRY})
target_link_libraries(quorvant PRIVATE advapi32 kernel32 user32)
# The image version in the PE header is the program's, 1.1 as VERSIONINFO has it. CMake's link rule
# takes it from the target's VERSION, which would also rename the file; the rule is given ours.
string(REPLACE "<TARGET_VERSION_MAJOR>" "${PROJECT_VERSION_MAJOR}" CMAKE_CXX_LINK_EXECUTABLE "${CMAKE_CXX_LINK_EXECUTABLE}")
string(REPLACE "<TARGET_VERSION_MINOR>" "${PROJECT_VERSION_MINOR}" CMAKE_CXX_LINK_EXECUTABLE "${CMAKE_CXX_LINK_EXECUTABLE}")

enable_testing()
# The same sources give the same bytes, wherever they are checked out.
get_filename_component(QUORVANT_PRESET ${CMAKE_BINARY_DIR} NAME)
add_test(NAME reproducible_build
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/windows/reproducible_build.sh ${CMAKE_SOURCE_DIR} ${QUORVANT_PRESET}
                 ${CMAKE_BINARY_DIR}/reproducible)
set_tests_properties(reproducible_build PROPERTIES LABELS reproducible TIMEOUT 600)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The release, read as Windows 2000 on a Pentium will meet it.
  add_test(NAME release_binary
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/windows/check_release.sh $<TARGET_FILE:quorvant>
                   ${CMAKE_BINARY_DIR}/release-check)
  # The stand-in game in its two builds, holding the game's routines, and the release run with it
  # on an emulated Pentium under a model of Windows 2000 (and of Windows 98).
  foreach(build a b)
    add_executable(standin_${build} WIN32 tests/emulator/standin.cpp)
    target_compile_options(standin_${build} PRIVATE ${WINDOWS_COMPILE_OPTIONS})
    target_compile_definitions(standin_${build} PRIVATE STANDIN_BUILD_B=$<STREQUAL:${build},b>)
    target_link_options(standin_${build} PRIVATE ${WINDOWS_LINK_OPTIONS} -Wl,--entry=_StandInEntry)
    target_link_libraries(standin_${build} PRIVATE kernel32)
  endforeach()
  add_test(NAME release_emulated
           COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/emulator/release_test.py
                   --release $<TARGET_FILE:quorvant> --standin-a $<TARGET_FILE:standin_a>
                   --standin-b $<TARGET_FILE:standin_b> --make-game ${CMAKE_SOURCE_DIR}/build/native/make_game
                   --source ${CMAKE_SOURCE_DIR} --work ${CMAKE_BINARY_DIR}/emulated)
  set_tests_properties(release_emulated PROPERTIES LABELS release TIMEOUT 1200)
  # The zip a Windows user downloads.
  add_test(NAME release_zip
           COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/windows/release_zip_test.py ${CMAKE_SOURCE_DIR}
                   $<TARGET_FILE:quorvant> ${CMAKE_BINARY_DIR}/release-zip)
  set_tests_properties(release_zip PROPERTIES LABELS reproducible TIMEOUT 600)
else()
  # A Windows program of the tests that holds a file open with share mode 0, as the running game does.
  add_executable(hold_file tests/windows/hold_file.cpp)
  add_test(NAME wine_end_to_end
           COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/windows/wine_e2e.py
                   --program $<TARGET_FILE:quorvant> --holder $<TARGET_FILE:hold_file>
                   --make-game ${CMAKE_SOURCE_DIR}/build/native/make_game
                   --linux-program ${CMAKE_SOURCE_DIR}/build/native/quorvant
                   --work ${CMAKE_BINARY_DIR}/wine-e2e)
  set_tests_properties(wine_end_to_end PROPERTIES LABELS wine TIMEOUT 1200)
endif()
