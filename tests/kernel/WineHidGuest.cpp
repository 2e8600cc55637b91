// Runs inside the booted test kernel on this machine's root file system (see
// run-wine-hid-test.sh): the Windows dravik-cli.exe under wine, whose HID
// stack (winebus over hidraw, hidclass, SetupAPI) shows it the virtual
// controllers, beside the Linux dravik-cli against the same controllers.
//   wine_hid_guest CONTROLLER_TOOL LINUX_CLI WINE WINESERVER CLI_EXE
// WINEPREFIX and the other wine settings come from the environment.
// Prints PASS/FAIL per check and, last, the result line the host reads:
//   DVK-KERNEL-RESULT: <passed> passed, <failed> failed
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/kernel/ControllerProcess.h"
#include "usb/usb_dvk.h"

using kernel_test::Check;
using kernel_test::ControllerLog;
using kernel_test::ControllerProcess;
using kernel_test::Ms;
using kernel_test::ProgramRun;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Join(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : " | ") + item;
    return "[" + text + "]";
}

// The worked example, and the 23 bytes it programs.
const char kExampleFile[] = "/tmp/wine-hid-example.dvk";
const char kExampleFileWindows[] = "Z:\\tmp\\wine-hid-example.dvk";
const char kExampleMessage[] = "57 14 57 9B 01 F4 00 14 AF 02 58 00 1E 37 03 E8 00 00 80 00 FA 67 39";

struct Controller {
    std::string label;
    std::vector<std::string> args;
    std::string rowText;
    std::unique_ptr<ControllerProcess> process;
};

// One finished run of a program: what it printed and how long it took.
struct Finished {
    int status = -1;
    std::string out, err;
    long long ms = 0;
    std::string Describe() const
    {
        return "status " + std::to_string(status) + ", out \"" + out + "\", err \"" + err + "\"";
    }
};

class Guest {
public:
    Guest(char** argv) : tool_(argv[1]), cli_(argv[2]), wine_(argv[3]), wineserver_(argv[4]), exe_(argv[5]) { }
    void Run();

private:
    Finished Program(const std::string& program, std::vector<std::string> args, std::chrono::milliseconds limit = 60s);
    Finished Windows(const std::vector<std::string>& args)
    {
        std::vector<std::string> command{exe_};
        for (const std::string& arg : args)
            command.push_back(arg);
        return Program(wine_, command);
    }
    bool Start(Controller& c);
    bool StopAll(std::vector<Controller*> controllers);
    std::string LabelOf(const std::string& path) const;
    std::vector<std::string> Lines(const std::string& out) const;
    bool StartWine(const std::vector<Controller*>& controllers, Finished& list);
    void StopWine();
    void ProgramThree();
    void SilentAndLate();

    std::string tool_, cli_, wine_, wineserver_, exe_;
    std::vector<Controller*> running_;
};

Finished Guest::Program(const std::string& program, std::vector<std::string> args, std::chrono::milliseconds limit)
{
    Finished run;
    ProgramRun process;
    const Clock::time_point start = Clock::now();
    if (!process.Start(program, args) || !process.Wait(limit)) {
        run.err = program + " did not end within " + std::to_string(limit.count()) + " ms";
        return run;
    }
    run.ms = Ms(Clock::now() - start);
    run.status = process.Status();
    // A Windows program's text output ends its lines with CR LF.
    auto withoutCr = [](const std::string& text) {
        std::string plain;
        std::remove_copy(text.begin(), text.end(), std::back_inserter(plain), '\r');
        return plain;
    };
    run.out = withoutCr(process.Out());
    run.err = withoutCr(process.Err());
    return run;
}

bool Guest::Start(Controller& c)
{
    c.process = std::make_unique<ControllerProcess>();
    const bool ok = c.process->Start(tool_, c.args, 15s);
    if (ok)
        running_.push_back(&c);
    return Check(ok, "virtual controller " + c.label + " created", c.process->Error());
}

bool Guest::StopAll(std::vector<Controller*> controllers)
{
    bool ok = true;
    for (Controller* c : controllers) {
        running_.erase(std::remove(running_.begin(), running_.end(), c), running_.end());
        ok = c->process->Stop(5s) && ok;
    }
    return ok;
}

// The controller a printed path names: its hidraw node on Linux; on Windows
// the path holds the device's instance id, in which wine puts the serial it
// read from the HID device: the uniq text "dvk-<pid>" of the controller.
std::string Guest::LabelOf(const std::string& path) const
{
    const std::string lower = Lower(path);
    for (const Controller* c : running_) {
        if (path == c->process->Node())
            return c->label;
        const std::string uniq = "dvk-" + std::to_string(c->process->Pid());
        const size_t at = lower.find(uniq);
        if (at != std::string::npos && !std::isdigit(static_cast<unsigned char>(lower[at + uniq.size()])))
            return c->label;
    }
    return "unknown path " + path;
}

// The lines "PATH REST" of an output as "LABEL: REST", sorted.
std::vector<std::string> Guest::Lines(const std::string& out) const
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t space = line.find(' ');
        lines.push_back(LabelOf(line.substr(0, space)) + ":" + (space == std::string::npos ? "" : line.substr(space)));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Starts wine's server, which stays up for the runs that follow, with the
// services the first run starts: plug and play, and the HID bus, which
// finds the controllers' hidraw nodes as it starts (without udevd in the
// guest it learns of no node made later). The Windows side of each device
// (its arrival, the HID class device and its interface) takes seconds under
// emulation: `list` is run until it shows every controller, and the last
// run is returned.
bool Guest::StartWine(const std::vector<Controller*>& controllers, Finished& list)
{
    const Clock::time_point start = Clock::now();
    const Finished server = Program(wineserver_, {"-p"});
    const Finished first = Windows({"--version"});
    if (!Check(server.status == 0 && first.status == 0 && first.out.rfind("dravik-cli ", 0) == 0,
               "dravik-cli.exe --version runs under wine (" + std::to_string(first.ms) + " ms, starting wine)",
               "wineserver " + server.Describe() + "; dravik-cli.exe " + first.Describe()))
        return false;
    int runs = 0;
    do {
        ++runs;
        list = Windows({"list"});
    } while (Lines(list.out).size() < controllers.size() && Clock::now() - start < 90s);
    return Check(Lines(list.out).size() == controllers.size(),
                 "dravik-cli.exe list shows " + std::to_string(controllers.size()) + " controllers " +
                     std::to_string(Ms(Clock::now() - start)) + " ms after wine's start (" + std::to_string(runs) +
                     " runs of list)",
                 list.Describe());
}

void Guest::StopWine()
{
    Program(wineserver_, {"-k"});
    Program(wineserver_, {"-w"});
}

// `list` and `program` with three controllers, one of which rejects the
// message.
void Guest::ProgramThree()
{
    Controller press1{"Press 1",
                      {"--id", "Press 1", "--version", "1.2", "--clock", "7c7788"},
                      "Press 1 v1.2 MTuWThF 08:30:00",
                      nullptr};
    Controller press2{"Press 2",
                      {"--id", "Press 2", "--version", "2.0", "--clock", "feb0f0"},
                      "Press 2 v2.0 Everyday 12:34:56",
                      nullptr};
    Controller press3{
        "Press 3", {"--id", "Press 3", "--clock", "000000", "--reject-piece", "0"}, "Press 3 v1.0 ", nullptr};
    const std::vector<Controller*> three = {&press1, &press2, &press3};
    for (Controller* c : three) {
        if (!Start(*c))
            return;
    }
    Finished windowsList;
    if (!StartWine(three, windowsList))
        return;

    // Each line names the controller's HID interface and gives the same row
    // text as the Linux program does.
    std::vector<std::string> expected;
    for (const Controller* c : three)
        expected.push_back(c->label + ": " + c->rowText);
    std::sort(expected.begin(), expected.end());
    bool paths = true;
    std::istringstream in(windowsList.out);
    for (std::string line; std::getline(in, line);)
        paths = paths && Lower(line).rfind("\\\\?\\hid#vid_04d8&pid_003f#", 0) == 0;
    const Finished linuxList = Program(cli_, {"list"});
    Check(windowsList.status == 0 && paths && Lines(windowsList.out) == expected && Lines(linuxList.out) == expected &&
              linuxList.status == 0,
          "dravik-cli.exe list gives each controller's HID interface path and the row text dravik-cli gives on Linux",
          "Windows " + windowsList.Describe() + "; Linux " + linuxList.Describe());

    for (Controller* c : three)
        c->process->Drain();
    const Finished program = Windows({"program", kExampleFileWindows});
    expected = {"Press 1: programmed", "Press 2: programmed", "Press 3: failed: rejected piece 1"};
    Check(program.status == 1 && Lines(program.out) == expected,
          "dravik-cli.exe program with three controllers, one rejecting: two \"programmed\" lines, status 1 (" +
              std::to_string(program.ms) + " ms)",
          program.Describe() + " as " + Join(Lines(program.out)));
    const std::vector<uint8_t> message = kernel_test::ParseHex(kExampleMessage);
    for (Controller* c : {&press1, &press2}) {
        const ControllerLog log = c->process->Collect(300ms);
        Check(log.pieces.size() == 1 && log.pieces[0].accepted && log.hasReceived && log.lastReceived == message,
              c->label + " holds exactly the 23 bytes of the example", Join(log.requests));
    }
    const ControllerLog log = press3.process->Collect(300ms);
    Check(log.pieces.size() == 1 && !log.pieces[0].accepted, "Press 3 was sent one piece, and rejected it",
          Join(log.requests));
    Check(StopAll(three), "the three controllers vanish on SIGTERM");
}

// A controller that never answers and one that answers 1100 ms late, beside
// a good one: the Windows program gives what the Linux one gives, and the
// pass waits no more than the transfer time limit for each.
void Guest::SilentAndLate()
{
    Controller good{"Press 4", {"--id", "Press 4", "--clock", "7c7788"}, "", nullptr};
    Controller silent{"Silent", {"--id", "Silent", "--never-answer"}, "", nullptr};
    Controller late{"Late", {"--id", "Late", "--reply-delay", "1100"}, "", nullptr};
    const std::vector<Controller*> three = {&good, &silent, &late};
    for (Controller* c : three) {
        if (!Start(*c))
            return;
    }
    Finished list;
    if (!StartWine(three, list))
        return;
    // The late replies to the requests of that list go to no reader.
    std::this_thread::sleep_for(1200ms);
    const Finished onLinux = Program(cli_, {"program", kExampleFile});
    std::this_thread::sleep_for(1200ms);
    good.process->Drain();
    const Finished version = Windows({"--version"});
    const Finished onWindows = Windows({"program", kExampleFileWindows});
    // The listing before the pass asked each for its identification in vain,
    // so no piece goes to either while that answer is due.
    const std::string unanswered = "failed: piece 1 not sent: no answer yet to an earlier request";
    const std::vector<std::string> expected = {"Late: " + unanswered, "Press 4: programmed", "Silent: " + unanswered};
    Check(onWindows.status == 1 && Lines(onWindows.out) == expected && onLinux.status == 1 &&
              Lines(onLinux.out) == Lines(onWindows.out),
          "dravik-cli.exe program marks the silent and the late controller unanswered and programs the good one, "
          "as dravik-cli does on Linux",
          "Windows " + onWindows.Describe() + "; Linux " + onLinux.Describe());
    // At most three transfers run out of time: the identification of each
    // of the two, and a piece sent to the late one once its late reply came.
    // The rest of the pass may take as long again as wine's start-up, which
    // tells how slow the emulation runs now.
    const long long limit = usb_dvk::kTransferTimeLimit.count();
    const long long waited = onWindows.ms - version.ms;
    Check(waited < 3 * limit + std::max(1000LL, version.ms),
          "the pass took " + std::to_string(onWindows.ms) + " ms under wine, " + std::to_string(waited) +
              " ms more than wine's start-up (" + std::to_string(version.ms) + " ms); on Linux " +
              std::to_string(onLinux.ms) + " ms (transfer time limit " + std::to_string(limit) + " ms)");
    const ControllerLog log = good.process->Collect(300ms);
    Check(log.hasReceived && log.lastReceived == kernel_test::ParseHex(kExampleMessage),
          "Press 4 holds exactly the 23 bytes of the example", Join(log.requests));
    Check(StopAll(three), "the three controllers vanish on SIGTERM");
}

void Guest::Run()
{
    if (!Check(access("/dev/uhid", R_OK | W_OK) == 0, "/dev/uhid is there"))
        return;
    const char* prefix = std::getenv("WINEPREFIX");
    if (!Check(prefix != nullptr, "WINEPREFIX is set"))
        return;
    // Wine runs only on a prefix that belongs to its user; the host's user
    // may be another than the guest's root. This changes the overlay only.
    struct stat info { };
    if (stat(prefix, &info) == 0 && info.st_uid != getuid() && chown(prefix, getuid(), getgid()) != 0)
        Check(false, std::string("the wine prefix ") + prefix + " can be given to root");
    std::ofstream(kExampleFile) << "<Dravik_38417 version=\"100\">\n"
                                   "\t<Stamp current=\"100\" timeout=\"500\" delay=\"20\"/>\n"
                                   "\t<StampReturn current=\"80\" timeout=\"600\" delay=\"30\"/>\n"
                                   "\t<Replace current=\"200\" timeout=\"1000\" delay=\"0\"/>\n"
                                   "\t<PaperSensor sensitivity=\"128\" activate=\"250\"/>\n"
                                   "</Dravik_38417>\n";

    // Wine starts anew for each set of controllers; a controller whose
    // scenario ended early goes with its object.
    ProgramThree();
    StopWine();
    running_.clear();
    SilentAndLate();
    StopWine();
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s CONTROLLER_TOOL LINUX_CLI WINE WINESERVER CLI_EXE\n", argv[0]);
        return 2;
    }
    const Clock::time_point start = Clock::now();
    Guest(argv).Run();
    std::printf("DVK-KERNEL-TIME: checks took %lld ms\n", Ms(Clock::now() - start));
    return kernel_test::Result();
}
