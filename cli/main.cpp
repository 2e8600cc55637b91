// dravik-cli's entry: the arguments as UTF-8, then RunCli.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "cli/Cli.h"

namespace {

#ifdef _WIN32
// The arguments after the program's name, from the wide command line: the
// narrow one holds only the characters of the console's code page.
std::vector<std::string> Arguments(int, char**)
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
    // The texts are UTF-8; so is what the console shows.
    SetConsoleOutputCP(CP_UTF8);
    return args;
}
#else
std::vector<std::string> Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    const std::unique_ptr<usb_dvk::Platform> usb = usb_dvk::MakeNativePlatform();
    const int status = dvk_cli::RunCli(Arguments(argc, argv), std::cout, std::cerr, dvk_cli::RealWaiting(), *usb);
    std::cout.flush();
    return status;
}
