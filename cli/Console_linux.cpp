// The console on Linux: arguments are the bytes the file system and the
// terminal use, UTF-8 on every current desktop.
#include "cli/Console.h"

namespace dvk_cli {

std::vector<std::string> ConsoleArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace dvk_cli
