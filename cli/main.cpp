// dravik-cli's entry: the arguments as UTF-8, the controllers through the
// system's USB platform, then RunCli.
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Console.h"

int main(int argc, char** argv)
{
    const std::unique_ptr<usb_dvk::Platform> usb = usb_dvk::MakeNativePlatform();
    const int status =
        dvk_cli::RunCli(dvk_cli::ConsoleArguments(argc, argv), std::cout, std::cerr, dvk_cli::RealWaiting(), *usb);
    std::cout.flush();
    return status;
}
