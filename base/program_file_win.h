// Where the program file lives and what it is called: the start-up finds the
// device library beside it, and boxes without a caption of their own show
// its name, as the system would.
#pragma once

#include <string>

// The program file's name without folder and extension: the caption of the
// boxes that have none of their own.
std::wstring ApplicationName();

// The folder of the program file, ending in a backslash.
std::wstring ProgramFolder();
