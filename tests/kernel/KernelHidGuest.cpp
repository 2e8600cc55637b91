// Runs inside the booted test kernel (see run-kernel-test.sh): the real
// hidraw platform layer of usb_dvk, the controller protocol, the USB
// programmer's passes and dravik-cli against virtual controllers made
// through /dev/uhid.
// Prints PASS/FAIL per check and, last, the result line the host reads:
//   DVK-KERNEL-RESULT: <passed> passed, <failed> failed
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <linux/hidraw.h>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "screen/ProgrammingMessage.h"
#include "tests/kernel/ControllerProcess.h"
#include "usb/USBProgrammerPasses.h"
#include "usb/USBTimerDevice.h"
#include "usb/usb_dvk.h"

using kernel_test::Check;
using kernel_test::ControllerLog;
using kernel_test::ControllerProcess;
using kernel_test::Ms;
using kernel_test::ProgramRun;
using kernel_test::Result;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string Join(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return "[" + text + "]";
}

// The device at the node, as the enumeration of controllers finds it.
usb_dvk::Device ControllerAt(const std::string& node)
{
    return usb_dvk::Device(node.c_str(), usb_programmer::kVendorId, usb_programmer::kProductId);
}

// A virtual controller of the test with the row text it should give.
struct Virtual {
    std::string label;
    std::vector<std::string> args;
    std::string rowText;
    std::unique_ptr<ControllerProcess> process;
};

// The lines of a text, sorted.
std::vector<std::string> SortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

class Guest {
public:
    Guest(usb_dvk::Platform& platform, std::string tool, std::string cli)
        : tool_(std::move(tool)), cli_(std::move(cli)), platform_(platform), system_(platform)
    { }
    void Run();

private:
    bool StartController(Virtual& v);
    std::vector<std::string> Enumerate(std::uint16_t vid, std::uint16_t pid, bool* ok = nullptr);
    std::string LabelOf(const std::string& path) const;
    std::vector<std::string> Labels(const std::vector<std::string>& paths) const;
    void DrainAll();
    void Refresh();
    void Program(const std::vector<unsigned char>& message);
    std::vector<std::string> RowLabels() const;
    std::vector<std::string> ExpectedTexts(const std::vector<std::string>& labels) const;
    std::string Marks() const;

    void CheckCli();
    void CheckEnumeration();
    void CheckQueries();
    void CheckDelivery(const std::vector<unsigned char>& message23);
    void CheckMisbehaving();
    void CheckFeatureRequests();
    void CheckPasses(const std::vector<unsigned char>& message23);
    void CheckVanishing(const std::vector<unsigned char>& message23);
    void CheckLateReplies();
    void CheckNodeReuse(const std::vector<unsigned char>& message23);

    std::string tool_;
    std::string cli_;
    std::map<std::string, Virtual> virtuals_;  // by label
    usb_dvk::Platform& platform_;
    usb_dvk::System system_;
    usb_programmer::Entries entries_;
    usb_programmer::Rows rows_;
};

bool Guest::StartController(Virtual& v)
{
    v.process = std::make_unique<ControllerProcess>();
    const bool ok = v.process->Start(tool_, v.args, 15s);
    return Check(ok, "virtual controller " + v.label + " created", v.process->Error());
}

std::vector<std::string> Guest::Enumerate(std::uint16_t vid, std::uint16_t pid, bool* ok)
{
    usb_dvk::DeviceList list;
    const bool result = system_.GetDeviceList(vid, pid, list);
    if (ok)
        *ok = result;
    std::vector<std::string> paths;
    for (const usb_dvk::Device& d : list)
        paths.push_back(d.GetPath());
    return paths;
}

std::string Guest::LabelOf(const std::string& path) const
{
    for (const auto& [label, v] : virtuals_) {
        if (v.process && v.process->Running() && v.process->Node() == path)
            return label;
    }
    return "unknown " + path;
}

std::vector<std::string> Guest::Labels(const std::vector<std::string>& paths) const
{
    std::vector<std::string> labels;
    for (const std::string& p : paths)
        labels.push_back(LabelOf(p));
    return labels;
}

void Guest::DrainAll()
{
    for (auto& [label, v] : virtuals_) {
        if (v.process)
            v.process->Drain();
    }
}

void Guest::Refresh()
{
    DrainAll();
    usb_programmer::RefreshPass(system_, entries_, [this](const usb_programmer::RowChange& c) { rows_.Apply(c); });
}

void Guest::Program(const std::vector<unsigned char>& message)
{
    DrainAll();
    usb_programmer::ProgramPass(system_.GetPlatform(), entries_, message,
                                [this](const usb_programmer::RowChange& c) { rows_.Apply(c); });
}

std::vector<std::string> Guest::RowLabels() const
{
    std::vector<std::string> labels;
    for (const auto& e : entries_)
        labels.push_back(LabelOf(e.device.GetPath()));
    return labels;
}

std::vector<std::string> Guest::ExpectedTexts(const std::vector<std::string>& labels) const
{
    std::vector<std::string> texts;
    for (const std::string& l : labels) {
        auto it = virtuals_.find(l);
        texts.push_back(it == virtuals_.end() ? "?" : it->second.rowText);
    }
    return texts;
}

std::string Guest::Marks() const
{
    std::string marks;
    for (bool c : rows_.checked)
        marks += c ? 'x' : '-';
    return marks;
}

// dravik-cli against controllers of the real HID stack: list without a
// controller, `program --wait` started before the controller appears, then
// three controllers of which one rejects the message.
void Guest::CheckCli()
{
    if (!Check(access(cli_.c_str(), X_OK) == 0, "dravik-cli is there", cli_))
        return;
    auto run = [this](const std::vector<std::string>& args) {
        auto program = std::make_unique<ProgramRun>();
        if (!program->Start(cli_, args) || !program->Wait(60s))
            Check(false, "dravik-cli " + Join(args) + " ends");
        return program;
    };
    auto settingsFile = [](const char* path, const char* stamp) {
        std::ofstream(path) << "<Dravik_38417 version=\"100\">\n\t<Stamp " << stamp
                            << "/>\n\t<StampReturn current=\"80\" timeout=\"600\" delay=\"30\"/>\n"
                               "\t<Replace current=\"200\" timeout=\"1000\" delay=\"0\"/>\n"
                               "\t<PaperSensor sensitivity=\"128\" activate=\"250\"/>\n</Dravik_38417>\n";
        return std::string(path);
    };
    // The worked example, and the same with a stamp current of 99.
    const std::string example = settingsFile("/tmp/example.dvk", "current=\"100\" timeout=\"500\" delay=\"20\"");
    const std::vector<uint8_t> exampleMessage =
        kernel_test::ParseHex("57 14 57 9B 01 F4 00 14 AF 02 58 00 1E 37 03 E8 00 00 80 00 FA 67 39");
    const std::string other = settingsFile("/tmp/other.dvk", "current=\"99\" timeout=\"500\" delay=\"20\"");
    std::vector<unsigned char> built;
    dvk::AppendProgrammingMessage({L"99", L"500", L"20", L"80", L"600", L"30", L"200", L"1000", L"0", L"128", L"250"},
                                  built);
    const std::vector<uint8_t> otherMessage(built.begin(), built.end());

    std::unique_ptr<ProgramRun> none = run({"list"});
    Check(none->Status() == 3 && none->Out().empty() && none->Err() == "No controller found.\n",
          "dravik-cli list without a controller: \"No controller found.\", status 3",
          "status " + std::to_string(none->Status()) + ", out " + Quote(none->Out()) + ", err " + Quote(none->Err()));

    ProgramRun waiting;
    const Clock::time_point start = Clock::now();
    if (!Check(waiting.Start(cli_, {"program", other, "--wait", "5"}), "dravik-cli program --wait 5 starts"))
        return;
    std::this_thread::sleep_for(500ms);
    Check(waiting.Running(), "it is still waiting after 0.5 s, with no controller");
    Virtual& w1 = virtuals_["cli-1"];
    if (!StartController(w1))
        return;
    const long long appearedMs = Ms(Clock::now() - start);
    const bool ended = waiting.Wait(30s);
    Check(ended && waiting.Status() == 0 && waiting.Out() == w1.process->Node() + " programmed\n",
          "the controller that appeared " + std::to_string(appearedMs) + " ms after the start is programmed, status 0",
          "status " + std::to_string(waiting.Status()) + ", out " + Quote(waiting.Out()) + ", err " +
              Quote(waiting.Err()));
    ControllerLog log = w1.process->Collect(300ms);
    Check(log.hasReceived && log.lastReceived == otherMessage, "it received exactly the file's 23 bytes");

    Virtual& w2 = virtuals_["cli-2"];
    Virtual& rejecting = virtuals_["cli-rejecting"];
    if (!StartController(w2) || !StartController(rejecting))
        return;
    DrainAll();
    std::unique_ptr<ProgramRun> three = run({"program", example});
    const std::vector<std::string> expected =
        SortedLines(w1.process->Node() + " programmed\n" + w2.process->Node() + " programmed\n" +
                    rejecting.process->Node() + " failed: rejected piece 1\n");
    Check(three->Status() == 1 && SortedLines(three->Out()) == expected,
          "dravik-cli program with three controllers, one rejecting: two \"programmed\" lines, status 1",
          "status " + std::to_string(three->Status()) + ", out " + Quote(three->Out()) + ", err " +
              Quote(three->Err()));
    for (Virtual* good : {&w1, &w2}) {
        log = good->process->Collect(300ms);
        Check(log.pieces.size() == 1 && log.pieces[0].accepted && log.hasReceived && log.lastReceived == exampleMessage,
              "controller " + good->label + " holds exactly the 23 bytes of the example", Join(log.requests));
    }

    std::unique_ptr<ProgramRun> listed = run({"list"});
    std::string expectedList;
    for (const Virtual* v : {&w1, &w2, &rejecting})
        expectedList += v->process->Node() + " " + v->rowText + "\n";
    // The dialog's refresh pass, for the same controllers.
    usb_dvk::System system(platform_);
    usb_programmer::Entries entries;
    usb_programmer::Rows rows;
    usb_programmer::RefreshPass(system, entries, [&rows](const usb_programmer::RowChange& c) { rows.Apply(c); });
    std::string dialogList;
    for (size_t i = 0; i < entries.size(); ++i)
        dialogList += entries[i].device.GetPath() + " " + rows.texts[i] + "\n";
    Check(listed->Status() == 0 && SortedLines(listed->Out()) == SortedLines(expectedList) &&
              listed->Out() == dialogList,
          "dravik-cli list shows each controller's path and the dialog's row text, status 0",
          "status " + std::to_string(listed->Status()) + ", out " + Quote(listed->Out()) + ", dialog " +
              Quote(dialogList));

    entries.clear();
    for (Virtual* v : {&w1, &w2, &rejecting})
        Check(v->process->Stop(5s), "controller " + v->label + " vanishes on SIGTERM");
}

// The four controllers A to D are listed, the decoys are not, and the
// order stays the same.
void Guest::CheckEnumeration()
{
    bool ok = false;
    std::vector<std::string> first = Enumerate(0x04D8, 0x003F, &ok);
    Check(ok && !system_.GetLastError(), "enumeration runs to its end");
    std::vector<std::string> labels = Labels(first);
    std::vector<std::string> sorted = labels;
    std::sort(sorted.begin(), sorted.end());
    Check(sorted == std::vector<std::string>{"A", "B", "C", "D"},
          "enumeration lists exactly the four virtual controllers, no decoy", "got " + Join(labels));
    bool stable = true;
    for (int i = 0; i < 5; ++i)
        stable = stable && Enumerate(0x04D8, 0x003F) == first;
    Check(stable, "order is the same in five more enumerations", "first " + Join(labels));

    usb_dvk::DeviceList twice;
    system_.GetDeviceList(0x04D8, 0x003F, twice);
    system_.GetDeviceList(0x04D8, 0x003F, twice);
    Check(twice.size() == 2 * first.size(), "a second enumeration into the same list appends",
          std::to_string(twice.size()) + " entries");

    // The decoys are there: the layer lists them for their own ids.
    Check(Labels(Enumerate(0x1209, 0x0001)) == std::vector<std::string>{"decoy-other-ids"},
          "the decoy with other ids is listed for its own ids only");
    Check(Labels(Enumerate(0x04D8, 0x0040)) == std::vector<std::string>{"decoy-other-product"},
          "the decoy with another product id is listed for its own ids only");
    Check(Labels(Enumerate(0x04D9, 0x003F)) == std::vector<std::string>{"decoy-other-vendor"},
          "the decoy with another vendor id is listed for its own ids only");
    Check(Enumerate(0x0001, 0x0002, &ok).empty() && ok,
          "no device for ids nobody has, and the enumeration ends normally");
}

void Guest::CheckQueries()
{
    struct Expect {
        std::string label, id, version, clock;
    };
    const std::vector<Expect> expected = {
        {"A", "DVK-A", "1.2", "MTuWThF 08:30:00"},
        {"B", "DVK-B", "3.0.1", "Everyday 12:34:56"},
    };
    for (const Expect& e : expected) {
        USBTimerDevice device(platform_);
        const usb_dvk::Device path = ControllerAt(virtuals_[e.label].process->Node());
        if (!Check(device.Connect(&path), "controller " + e.label + " connects"))
            continue;
        const std::string id = device.GetDeviceID();
        const std::string version = device.GetVersion();
        const std::string clock = device.GetTimeStr();
        Check(id == e.id, "controller " + e.label + " identification " + Quote(e.id), "got " + Quote(id));
        Check(version == e.version, "controller " + e.label + " version " + Quote(e.version), "got " + Quote(version));
        Check(clock == e.clock, "controller " + e.label + " clock " + Quote(e.clock), "got " + Quote(clock));
        device.Disconnect();
        Check(!device.IsConnected(), "controller " + e.label + " disconnects");
    }
}

void Guest::CheckDelivery(const std::vector<unsigned char>& message23)
{
    ControllerProcess& a = *virtuals_["A"].process;
    USBTimerDevice device(platform_);
    const usb_dvk::Device path = ControllerAt(a.Node());
    if (!Check(device.Connect(&path), "controller A connects for delivery"))
        return;

    a.Drain();
    bool ok = device.SetData(message23);
    Check(ok, "SetData of the 23-byte programming message is acknowledged");
    ControllerLog log = a.Collect(300ms);
    Check(log.pieces.size() == 1 && log.pieces[0].offset == 0 && log.pieces[0].count == 23 && log.pieces[0].accepted,
          "the 23-byte message goes as one piece", Join(log.requests));
    Check(log.hasReceived && log.lastReceived == std::vector<uint8_t>(message23.begin(), message23.end()),
          "the controller received exactly the 23 bytes");

    std::vector<unsigned char> message133(133);
    for (size_t i = 0; i < message133.size(); ++i)
        message133[i] = static_cast<unsigned char>(0xA0 ^ (i * 7));
    ok = device.SetData(message133);
    Check(ok, "SetData of a 133-byte message is acknowledged");
    log = a.Collect(300ms);
    bool threePieces = log.pieces.size() == 3;
    const unsigned offsets[3] = {0, 60, 120}, counts[3] = {60, 60, 13};
    for (size_t i = 0; threePieces && i < 3; ++i)
        threePieces = log.pieces[i].offset == offsets[i] && log.pieces[i].count == counts[i] && log.pieces[i].accepted;
    Check(threePieces, "the 133-byte message arrives in three pieces (offsets 0, 60, 120; counts 60, 60, 13)",
          Join(log.requests));
    Check(log.hasReceived && log.lastReceived == std::vector<uint8_t>(message133.begin(), message133.end()),
          "the controller received exactly the 133 bytes");
}

void Guest::CheckMisbehaving()
{
    const std::vector<unsigned char> message(23, 0x5A);
    {
        ControllerProcess& c = *virtuals_["C"].process;
        USBTimerDevice device(platform_);
        const usb_dvk::Device path = ControllerAt(c.Node());
        if (Check(device.Connect(&path), "rejecting controller C connects")) {
            c.Drain();
            Check(!device.SetData(message), "SetData to the controller that rejects a piece gives false");
            std::vector<unsigned char> message133(133, 0x11);
            Check(!device.SetData(message133), "SetData of 133 bytes to it gives false too");
            ControllerLog log = c.Collect(300ms);
            Check(log.pieces.size() == 2 && !log.pieces[0].accepted && !log.pieces[1].accepted,
                  "nothing is sent after the rejected piece", Join(log.requests));
        }
    }
    {
        ControllerProcess& d = *virtuals_["D"].process;
        USBTimerDevice device(platform_);
        const usb_dvk::Device path = ControllerAt(d.Node());
        if (Check(device.Connect(&path), "silent controller D connects")) {
            const long long limit = usb_dvk::kTransferTimeLimit.count();
            Clock::time_point start = Clock::now();
            const std::string id = device.GetDeviceID();
            const long long idMs = Ms(Clock::now() - start);
            // The guest runs under emulation: allow one second over the limit.
            Check(id.empty() && idMs < limit + 1000,
                  "identification from the silent controller is empty after " + std::to_string(idMs) +
                      " ms (transfer time limit " + std::to_string(limit) + " ms)",
                  "got " + Quote(id));
            d.Drain();
            start = Clock::now();
            const std::string clock = device.GetTimeStr();
            const bool delivered = device.SetData(message);
            const long long laterMs = Ms(Clock::now() - start);
            ControllerLog log = d.Collect(300ms);
            Check(clock == "Error" && !delivered && log.requests.empty(),
                  "after that, the connection sends nothing: the clock reads \"Error\" and SetData gives false at once "
                  "(" +
                      std::to_string(laterMs) + " ms)",
                  "got " + Quote(clock) + ", requests " + Join(log.requests));
            start = Clock::now();
            const bool deliveredAgain = device.Connect(&path) && device.SetData(message);
            const long long dataMs = Ms(Clock::now() - start);
            Check(!deliveredAgain && dataMs < limit + 1000,
                  "SetData on a new connection gives false after " + std::to_string(dataMs) + " ms");
        }
    }
    {
        // Replies shorter than the 64-byte report: the HID core drops them
        // ("too short"), so the queries fail as if unanswered, within the limit.
        Virtual& f = virtuals_["F"];
        if (StartController(f)) {
            USBTimerDevice device(platform_);
            const usb_dvk::Device path = ControllerAt(f.process->Node());
            if (Check(device.Connect(&path), "controller F with short replies connects")) {
                Clock::time_point start = Clock::now();
                const std::string id = device.GetDeviceID();
                const std::string clock = device.GetTimeStr();
                const long long ms = Ms(Clock::now() - start);
                Check(id.empty() && clock == "Error" && ms < usb_dvk::kTransferTimeLimit.count() + 1000,
                      "32-byte replies give an empty identification and \"Error\" for the clock (" +
                          std::to_string(ms) + " ms)",
                      "got " + Quote(id) + " and " + Quote(clock));
            }
            device.Disconnect();
            Check(f.process->Stop(5s), "controller F vanishes on SIGTERM");
        }
    }
    // The others still answer.
    for (const char* label : {"A", "B"}) {
        USBTimerDevice device(platform_);
        const usb_dvk::Device path = ControllerAt(virtuals_[label].process->Node());
        Check(device.Connect(&path) && device.GetDeviceID() == std::string("DVK-") + label && device.SetData(message),
              std::string("controller ") + label + " still answers and takes a message after the silent one");
    }
}

// The virtual device has no feature reports; it must refuse requests for
// them at once instead of leaving the kernel waiting.
void Guest::CheckFeatureRequests()
{
    const int fd = open(virtuals_["A"].process->Node().c_str(), O_RDWR | O_CLOEXEC);
    if (!Check(fd >= 0, "controller A's hidraw node opens"))
        return;
    unsigned char buffer[65] = {};
    Clock::time_point start = Clock::now();
    int got = ioctl(fd, HIDIOCGFEATURE(sizeof buffer), buffer);
    const int getError = errno;
    int set = ioctl(fd, HIDIOCSFEATURE(sizeof buffer), buffer);
    const int setError = errno;
    const long long ms = Ms(Clock::now() - start);
    close(fd);
    Check(got < 0 && set < 0 && getError == EIO && setError == EIO && ms < 2000,
          "feature report requests are refused at once (" + std::to_string(ms) + " ms)",
          "get " + std::to_string(got) + "/" + std::to_string(getError) + ", set " + std::to_string(set) + "/" +
              std::to_string(setError));
}

void Guest::CheckPasses(const std::vector<unsigned char>& message23)
{
    Clock::time_point start = Clock::now();
    Refresh();
    const long long refreshMs = Ms(Clock::now() - start);
    std::vector<std::string> labels = RowLabels();
    std::vector<std::string> sortedLabels = labels;
    std::sort(sortedLabels.begin(), sortedLabels.end());
    Check(sortedLabels == std::vector<std::string>{"A", "B", "C", "D"} && labels == Labels(Enumerate(0x04D8, 0x003F)),
          "first refresh pass lists A to D in enumeration order (" + std::to_string(refreshMs) + " ms)",
          "got " + Join(labels));
    Check(rows_.texts == ExpectedTexts(labels), "rows show identification, version and clock",
          "got " + Join(rows_.texts) + ", expected " + Join(ExpectedTexts(labels)));
    Check(Marks() == std::string(labels.size(), '-'), "no row is marked before programming", Marks());

    Program(message23);
    std::string expectedMarks;
    for (const std::string& l : labels)
        expectedMarks += (l == "A" || l == "B") ? 'x' : '-';
    Check(Marks() == expectedMarks,
          "Program All marks A and B, not the rejecting C or the silent D (" + Join(labels) + " " + Marks() + ")",
          "expected " + expectedMarks);
    for (const char* label : {"A", "B"}) {
        ControllerLog log = virtuals_[label].process->Collect(200ms);
        Check(log.hasReceived && log.lastReceived == std::vector<uint8_t>(message23.begin(), message23.end()),
              std::string("controller ") + label + " received the message of Program All");
    }

    Refresh();
    Check(RowLabels() == labels && rows_.texts == ExpectedTexts(labels) && Marks() == expectedMarks,
          "the next refresh keeps rows, texts and marks", Join(rows_.texts) + " " + Marks());
}

void Guest::CheckVanishing(const std::vector<unsigned char>& message23)
{
    // E vanishes by itself after some seconds, B on a signal.
    Virtual& e = virtuals_["E"];
    if (!StartController(e))
        return;
    Refresh();
    std::vector<std::string> labels = RowLabels();
    Check(!labels.empty() && labels.back() == "E" && rows_.texts.back() == e.rowText && !rows_.checked.back(),
          "a controller plugged in while listing appears at the end, unmarked", Join(labels));

    const usb_dvk::Device oldB = ControllerAt(virtuals_["B"].process->Node());
    Check(virtuals_["B"].process->Stop(5s), "controller B vanishes on SIGTERM");
    Check(e.process->WaitExit(20s), "controller E vanishes by itself (--vanish-after)");
    USBTimerDevice device(platform_);
    Check(!device.Connect(&oldB) && !device.IsConnected(), "the vanished B's path no longer connects");

    std::vector<std::string> before = labels;
    Refresh();
    std::vector<std::string> expected;
    for (const std::string& l : before) {
        if (l != "B" && l != "E")
            expected.push_back(l);
    }
    labels = RowLabels();
    Check(labels == expected && rows_.texts.size() == expected.size(), "the next refresh removes the rows of B and E",
          "got " + Join(labels) + ", expected " + Join(expected));
    Check(rows_.texts == ExpectedTexts(labels), "the remaining rows keep their texts", Join(rows_.texts));

    Virtual& b = virtuals_["B"];
    if (!StartController(b))
        return;
    Refresh();
    labels = RowLabels();
    Check(labels.size() == expected.size() + 1 && labels.back() == "B" && rows_.texts.back() == b.rowText &&
              !rows_.checked.back(),
          "B comes back as a new row at the end, unmarked", Join(labels) + " " + Marks());
    std::string marks;
    for (const std::string& l : labels)
        marks += (l == "A") ? 'x' : '-';
    Check(Marks() == marks, "the other marks stay", Marks() + ", expected " + marks);

    Program(message23);
    marks.clear();
    for (const std::string& l : labels)
        marks += (l == "A" || l == "B") ? 'x' : '-';
    Check(Marks() == marks, "Program All after the return marks A and the new B only", Marks() + ", expected " + marks);
}

// A controller whose replies come after the read has given up: its row may
// show failures or the right texts, never the answer to another request.
void Guest::CheckLateReplies()
{
    for (const char* delay : {"600", "1100"}) {
        Virtual& late = virtuals_["late"];
        late.args = {"--id", "DVK-L", "--version", "4.0", "--clock", "7c7788", "--reply-delay", delay};
        if (!StartController(late))
            return;
        std::vector<std::string> allowed;
        for (const char* id : {"DVK-L", ""}) {
            for (const char* version : {"4.0", ""}) {
                for (const char* clock : {"MTuWThF 08:30:00", "Error"})
                    allowed.push_back(std::string(id) + " v" + version + " " + clock);
            }
        }
        std::vector<std::string> seen;
        bool right = true;
        for (int pass = 0; pass < 3; ++pass) {
            Refresh();
            for (size_t i = 0; i < entries_.size(); ++i) {
                if (entries_[i].device.GetPath() == late.process->Node()) {
                    seen.push_back(rows_.texts[i]);
                    right = right && std::find(allowed.begin(), allowed.end(), rows_.texts[i]) != allowed.end();
                }
            }
        }
        Check(right && seen.size() == 3,
              std::string("replies ") + delay +
                  " ms late give failures or the right texts in three refreshes: " + Join(seen));
        Check(late.process->Stop(5s), std::string("the controller answering ") + delay + " ms late vanishes");
        Refresh();
    }
}

// A controller is destroyed and a device with other ids takes its hidraw
// node before the next refresh: Program All refuses that device, the
// refresh drops the row, and the device receives nothing.
void Guest::CheckNodeReuse(const std::vector<unsigned char>& message23)
{
    Virtual& x = virtuals_["X"];
    if (!StartController(x))
        return;
    Refresh();
    const std::string node = x.process->Node();
    Check(!entries_.empty() && entries_.back().device.GetPath() == node, "controller X is listed at " + node);
    Check(x.process->Stop(5s), "controller X vanishes on SIGTERM");

    Virtual& other = virtuals_["other-at-X"];
    if (!StartController(other))
        return;
    if (!Check(other.process->Node() == node, "a device with ids 1050:0407 gets X's node " + node,
               "it got " + other.process->Node()))
        return;
    other.process->Drain();
    const std::vector<usb_programmer::Outcome> outcomes = usb_programmer::ProgramPass(
        system_.GetPlatform(), entries_, message23, [this](const usb_programmer::RowChange& c) { rows_.Apply(c); });
    bool refused = false;
    std::string failures;
    for (const usb_programmer::Outcome& o : outcomes) {
        refused = refused || (o.path == node && o.failure == usb_programmer::Failure::NotAController);
        failures += o.path + ":" + std::to_string(static_cast<int>(o.failure)) + "/" + o.error.message() + " ";
    }
    Check(refused, "Program All before the refresh refuses the device at X's node: not a controller", failures);
    Refresh();
    bool listed = false;
    for (const auto& e : entries_)
        listed = listed || e.device.GetPath() == node;
    Check(!listed, "the refresh drops X's row");
    ControllerLog log = other.process->Collect(300ms);
    Check(log.requests.empty(), "the device with other ids received nothing", Join(log.requests));
    Check(other.process->Stop(5s), "the device with other ids vanishes on SIGTERM");
}

void Guest::Run()
{
    if (!Check(access("/dev/uhid", R_OK | W_OK) == 0, "/dev/uhid is there"))
        return;
    if (!Check(access(tool_.c_str(), X_OK) == 0, "the virtual controller program is there", tool_))
        return;

    auto add = [this](std::string label, std::vector<std::string> args, std::string rowText) {
        virtuals_[label] = Virtual{label, std::move(args), std::move(rowText), nullptr};
    };
    add("A", {"--id", "DVK-A", "--version", "1.2", "--clock", "7c7788"}, "DVK-A v1.2 MTuWThF 08:30:00");
    add("B", {"--id", "DVK-B", "--version", "3.0.1", "--clock", "feb0f0"}, "DVK-B v3.0.1 Everyday 12:34:56");
    // A clock without days shows nothing: the row ends in a space.
    add("C", {"--id", "DVK-C", "--version", "1.0", "--clock", "000000", "--reject-piece", "0"}, "DVK-C v1.0 ");
    add("D", {"--id", "DVK-D", "--never-answer"}, " v Error");
    add("E", {"--id", "DVK-E", "--version", "2", "--clock", "8263a5", "--vanish-after", "8"}, "DVK-E v2 SuSa 07:05:09");
    add("F", {"--id", "DVK-F", "--short-replies"}, " v Error");
    add("X", {"--id", "DVK-X", "--clock", "000000"}, "DVK-X v1.0 ");
    add("other-at-X", {"--vendor", "1050", "--product", "0407"}, "");
    add("late", {}, "");
    add("decoy-other-ids", {"--decoy"}, "");
    add("decoy-other-product", {"--product", "0040"}, "");
    add("decoy-other-vendor", {"--vendor", "04d9"}, "");
    add("cli-1", {"--id", "Press 1", "--version", "1.2", "--clock", "7c7788"}, "Press 1 v1.2 MTuWThF 08:30:00");
    add("cli-2", {"--id", "Press 2", "--version", "2.0", "--clock", "feb0f0"}, "Press 2 v2.0 Everyday 12:34:56");
    add("cli-rejecting", {"--id", "Press 3", "--clock", "000000", "--reject-piece", "0"}, "Press 3 v1.0 ");

    // dravik-cli first, while no other device is there.
    CheckCli();

    // Created one after the other, decoys in between, so the hidraw numbers
    // do not follow the letters.
    for (const char* label : {"decoy-other-ids", "B", "D", "decoy-other-product", "A", "C", "decoy-other-vendor"}) {
        if (!StartController(virtuals_[label]))
            return;
    }

    std::vector<unsigned char> message23;
    dvk::SettingTexts texts = {L"200", L"1000", L"50", L"150", L"800", L"40", L"100", L"1200", L"60", L"30", L"250"};
    dvk::AppendProgrammingMessage(texts, message23);
    if (!Check(message23.size() == 23, "the programming message has 23 bytes", std::to_string(message23.size())))
        return;

    CheckEnumeration();
    CheckQueries();
    CheckDelivery(message23);
    CheckMisbehaving();
    CheckFeatureRequests();
    CheckPasses(message23);
    CheckVanishing(message23);
    CheckLateReplies();
    CheckNodeReuse(message23);
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const Clock::time_point start = Clock::now();
    const std::unique_ptr<usb_dvk::Platform> platform = usb_dvk::MakeNativePlatform();
    Guest guest(*platform, argc > 1 ? argv[1] : "/bin/dvk-uhid-controller", argc > 2 ? argv[2] : "/bin/dravik-cli");
    guest.Run();
    std::printf("DVK-KERNEL-TIME: checks took %lld ms\n", Ms(Clock::now() - start));
    return Result();
}
