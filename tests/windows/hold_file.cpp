// hold_file FILE READY STOP: opens FILE for reading and writing with share mode 0, as the running
// game holds its executable, creates READY, and keeps FILE open until STOP exists.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(ready);
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
    CloseHandle(file);
    return 0;
}
