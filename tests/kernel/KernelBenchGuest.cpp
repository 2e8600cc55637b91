// The USB benchmark, inside the booted test kernel (see run-kernel-test.sh):
// for 1, 16 and 64 virtual controllers (dvk-uhid-controller), and again
// with the first of them silent, how long `dravik-cli list` and
// `dravik-cli program` take, and the USB programmer's refresh pass, linked
// directly: the first one, which finds the controllers, and one repeated
// over the controllers it listed. All of it twice: with controllers that
// answer at once, and with controllers as slow as real ones on a full-speed
// bus (every reply waits for the bus's 1 ms polling out and in, and storing
// a piece takes 200 ms). Prints the tables (DVK-BENCH lines) and, last, the
// result line the host reads:
//   DVK-KERNEL-RESULT: <passed> passed, <failed> failed
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/kernel/ControllerProcess.h"
#include "usb/USBProgrammerPasses.h"
#include "usb/usb_dvk.h"

using kernel_test::Check;
using kernel_test::ControllerProcess;
using kernel_test::Ms;
using kernel_test::ProgramRun;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kCommandRuns = 3;  // of each dravik-cli command; the median counts
constexpr int kRefreshRuns = 10;

// Milliseconds as the table shows them: the median, and the range when it
// is wider than a few milliseconds.
std::string Figure(std::vector<long long> ms)
{
    std::sort(ms.begin(), ms.end());
    const long long median = ms[ms.size() / 2];
    if (ms.back() - ms.front() <= std::max(5LL, median / 10))
        return std::to_string(median) + " ms";
    return std::to_string(median) + " ms (" + std::to_string(ms.front()) + "-" + std::to_string(ms.back()) + ")";
}

// CPU milliseconds that this process has used, and that another has (its
// user and system time in /proc, in clock ticks after the command's ")").
double OwnCpuMs()
{
    return std::clock() * 1000.0 / CLOCKS_PER_SEC;
}

double CpuMs(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string line(std::istreambuf_iterator<char>(stat), {});
    unsigned long user = 0, system = 0;
    std::sscanf(line.c_str() + line.rfind(')') + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                &system);
    return static_cast<double>(user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class Bench {
public:
    Bench(usb_dvk::Platform& platform, std::string tool, std::string cli)
        : platform(platform), tool(std::move(tool)), cli(std::move(cli))
    { }

    // One case: count controllers, the first one silent when asked, each
    // started with the latency's options.
    void Run(int count, bool silent, const std::vector<std::string>& latency)
    {
        const std::string label = std::to_string(count) + (silent ? ", one silent" : "");
        std::vector<std::unique_ptr<ControllerProcess>> controllers;
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> args = {"--id", "Press " + std::to_string(i), "--clock", "7c7788"};
            args.insert(args.end(), latency.begin(), latency.end());
            if (silent && i == 0)
                args.push_back("--never-answer");
            controllers.push_back(std::make_unique<ControllerProcess>());
            if (!controllers.back()->Start(tool, args, 30s)) {
                Check(false, label + ": controller " + std::to_string(i) + " created", controllers.back()->Error());
                return;
            }
        }
        const int status = silent ? 1 : 0;  // dravik-cli's exit status
        auto drain = [&] {
            for (auto& controller : controllers)
                controller->Drain();
        };

        usb_dvk::System system(platform);
        usb_programmer::Entries entries;
        auto refresh = [&] {
            drain();
            const auto start = Clock::now();
            usb_programmer::RefreshPass(system, entries, [](const usb_programmer::RowChange&) {});
            return Ms(Clock::now() - start);
        };
        std::string failures;
        const long long first = refresh();
        if (entries.size() != static_cast<std::size_t>(count))
            failures += " the first refresh listed " + std::to_string(entries.size()) + ";";
        // What a repeated pass costs the processor: this process (the
        // pass) and the virtual controllers, which share it in this machine.
        auto controllersCpu = [&] {
            double ms = 0;
            for (auto& controller : controllers)
                ms += CpuMs(controller->Pid());
            return ms;
        };
        const double ownBefore = OwnCpuMs(), controllersBefore = controllersCpu();
        std::vector<long long> repeated;
        for (int i = 0; i < kRefreshRuns; ++i)
            repeated.push_back(refresh());
        const std::string cpu = std::to_string(std::lround((OwnCpuMs() - ownBefore) / kRefreshRuns)) + " / " +
            std::to_string(std::lround((controllersCpu() - controllersBefore) / kRefreshRuns)) + " ms";
        entries.clear();

        auto command = [&](const std::vector<std::string>& args) {
            std::vector<long long> ms;
            for (int i = 0; i < kCommandRuns; ++i) {
                drain();
                ProgramRun run;
                const auto start = Clock::now();
                const bool ended = run.Start(cli, args) && run.Wait(60s);
                ms.push_back(Ms(Clock::now() - start));
                if (!ended || run.Status() != status || std::count(run.Out().begin(), run.Out().end(), '\n') != count)
                    failures +=
                        " dravik-cli " + args[0] + ": status " + std::to_string(run.Status()) + ", " + run.Err() + ";";
            }
            return Figure(ms);
        };
        const std::string list = command({"list"});
        const std::string program = command({"program", "/tmp/bench.dvk"});
        Check(failures.empty(),
              label + ": every controller listed and answered, dravik-cli's status " + std::to_string(status),
              failures);
        std::printf("DVK-BENCH: | %s | %s | %s | %s | %s | %s |\n", label.c_str(), list.c_str(), program.c_str(),
                    Figure(repeated).c_str(), cpu.c_str(), (std::to_string(first) + " ms").c_str());
        for (auto& controller : controllers)
            controller->Stop(5s);
    }

private:
    usb_dvk::Platform& platform;
    std::string tool;
    std::string cli;
};

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::ofstream("/tmp/bench.dvk") << "<Dravik_38417 version=\"100\">\n"
                                       "\t<Stamp current=\"100\" timeout=\"500\" delay=\"20\"/>\n"
                                       "\t<StampReturn current=\"80\" timeout=\"600\" delay=\"30\"/>\n"
                                       "\t<Replace current=\"200\" timeout=\"1000\" delay=\"0\"/>\n"
                                       "\t<PaperSensor sensitivity=\"128\" activate=\"250\"/>\n"
                                       "</Dravik_38417>\n";
    const std::unique_ptr<usb_dvk::Platform> platform = usb_dvk::MakeNativePlatform();
    Bench bench(*platform, argc > 1 ? argv[1] : "/bin/dvk-uhid-controller", argc > 2 ? argv[2] : "/bin/dravik-cli");
    const std::vector<std::pair<const char*, std::vector<std::string>>> latencies = {
        {"controllers that answer at once", {}},
        {"replies after 2 ms, pieces stored in 200 ms", {"--reply-delay", "2", "--store-delay", "200"}},
    };
    for (const auto& [name, latency] : latencies) {
        std::printf("DVK-BENCH: %s\n", name);
        std::printf("DVK-BENCH: | controllers | `list` | `program` | refresh pass (repeated) | its CPU: pass / "
                    "controllers | first refresh |\n");
        std::printf("DVK-BENCH: |---|---|---|---|---|---|\n");
        for (const int count : {1, 16, 64}) {
            for (const bool silent : {false, true})
                bench.Run(count, silent, latency);
        }
    }
    return kernel_test::Result();
}
