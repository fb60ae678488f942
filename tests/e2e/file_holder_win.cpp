// Holds a file open as a spreadsheet does: for reading, shared for reading
// only, so no other program may write to it. Says "held" on its output once
// it holds the file and lets go when its input ends.
//   e2e_file_holder PATH
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    char byte;
    DWORD read = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, &byte, 1, &read, nullptr) && read == 1) {
    }
    CloseHandle(file);
    return 0;
}
