// The console on Windows: the arguments from the wide command line, and a
// console that shows UTF-8.
#include "cli/Console.h"

#include <windows.h>

#include <shellapi.h>

namespace dvk_cli {

std::vector<std::string> ConsoleArguments(int, char**)
{
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        if (size > 1)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        args.push_back(arg);
    }
    LocalFree(wide);
    SetConsoleOutputCP(CP_UTF8);
    return args;
}

}  // namespace dvk_cli
