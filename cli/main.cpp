// dravik-cli's entry: the process's set-up, the arguments as UTF-8, the
// controllers through the system's USB platform, then RunCli.
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Console.h"
#include "core/ProcessStart.h"

int main(int argc, char** argv)
{
    if (const std::error_code error = dvk::PrepareProcess()) {
        std::cerr << "dravik-cli: cannot open /dev/null: " << error.message() << "\n";
        return dvk_cli::kOutputFailed;
    }
    const std::unique_ptr<usb_dvk::Platform> usb = usb_dvk::MakeNativePlatform();
    const int status =
        dvk_cli::RunCli(dvk_cli::ConsoleArguments(argc, argv), std::cout, std::cerr, dvk_cli::RealWaiting(), *usb);
    std::cout.flush();
    return status;
}
