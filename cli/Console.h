// What dravik-cli needs of the system's console (Console_linux.cpp,
// Console_windows.cpp).
#pragma once

#include <string>
#include <vector>

namespace dvk_cli {

// The arguments after the program's name, as UTF-8 (main's argc and argv;
// on Windows they are read from the wide command line, since the narrow one
// holds only the characters of the console's code page). Sets the console
// to show the UTF-8 that the program writes, where it needs telling.
std::vector<std::string> ConsoleArguments(int argc, char** argv);

}  // namespace dvk_cli
