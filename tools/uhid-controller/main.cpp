// dvk-uhid-controller: a virtual Dravik controller made through /dev/uhid.
// It appears to the machine as a USB HID device (vendor 04d8, product 003f by
// default) and answers the controller's requests with the controller model,
// so the USB Program dialog can be tried without hardware, and the kernel
// test can drive the real platform layer against it.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <unistd.h>

#include "tests/support/ControllerModel.h"
#include "tools/uhid-controller/ControllerOptions.h"
#include "tools/uhid-controller/UhidDevice.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal)
{
    stopSignal = signal;
}

void InstallStopHandlers()
{
    struct sigaction action { };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a signal wakes the wait at once
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGHUP})
        sigaction(s, &action, nullptr);
}

std::array<uint8_t, 3> HostClock()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return uhid_dvk::ClockBytes(local.tm_wday, local.tm_hour, local.tm_min, local.tm_sec);
}

std::string RequestName(const dvk_model::Report& request)
{
    if (dvk_model::IsDataPiece(request)) {
        unsigned offset = request[1] | (request[2] << 8);
        return "piece offset " + std::to_string(offset) + " count " + std::to_string(request[3]);
    }
    std::string text;
    for (uint8_t c : request) {
        if (c == 0)
            break;
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text.empty() ? "(empty request)" : text;
}

// The input report that answers one output report, if any, and whether it
// was a data piece; prints what happened when asked to.
std::optional<std::vector<uint8_t>> Answer(dvk_model::ControllerModel& model,
                                           const uhid_dvk::ControllerOptions& options,
                                           const std::vector<uint8_t>& output, bool& piece)
{
    std::vector<uint8_t> payload = uhid_dvk::ReportPayload64(output);
    dvk_model::Report request{};
    std::copy(payload.begin(), payload.end(), request.begin());
    piece = dvk_model::IsDataPiece(request);
    // A piece at offset 0 starts a new message: piece numbers (for
    // --reject-piece) and the stored bytes start again.
    if (piece && request[1] == 0 && request[2] == 0)
        model.ClearReceived();
    std::optional<dvk_model::Report> reply = model.Handle(request);
    if (options.print) {
        std::string line = "request " + RequestName(request);
        if (!reply)
            line += ": not answered";
        else if (piece)
            line += (*reply)[0] == 'O' && (*reply)[1] == 'K' ? ": OK" : ": rejected";
        std::printf("%s\n", line.c_str());
        if (piece && reply) {
            std::vector<uint8_t> received = model.Received();
            std::printf("received %zu bytes: %s\n", received.size(), uhid_dvk::HexBytes(received).c_str());
        }
        std::fflush(stdout);
    }
    if (!reply)
        return std::nullopt;
    size_t size = model.ShortReplies() ? 32 : reply->size();
    return std::vector<uint8_t>(reply->begin(), reply->begin() + size);
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    uhid_dvk::ParsedOptions parsed = uhid_dvk::ParseControllerOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(uhid_dvk::ControllerUsage().c_str(), stdout);
        return 0;
    }
    if (!parsed.ok) {
        std::fprintf(stderr, "dvk-uhid-controller: %s (see --help)\n", parsed.error.c_str());
        return 2;
    }
    const uhid_dvk::ControllerOptions& options = parsed.options;

    dvk_model::ControllerModel model(
        dvk_model::ControllerConfig{options.id, options.version, options.clockFromHost ? HostClock() : options.clock});
    model.RejectPiece(options.rejectPiece);
    model.SetNeverAnswers(options.neverAnswer);
    model.SetShortReplies(options.shortReplies);

    InstallStopHandlers();
    uhid_dvk::UhidDevice device;
    uhid_dvk::DeviceIdentity identity;
    identity.name = options.name;
    identity.vendor = options.vendor;
    identity.product = options.product;
    identity.uniq = "dvk-" + std::to_string(getpid());
    if (!device.Create(identity, uhid_dvk::VendorReportDescriptor64(), options.uhidNode)) {
        std::fprintf(stderr, "dvk-uhid-controller: %s\n", device.Error().c_str());
        if (access(options.uhidNode.c_str(), F_OK) != 0)
            std::fprintf(stderr, "dvk-uhid-controller: this kernel has no uhid loaded: try 'modprobe uhid' as root\n");
        else if (access(options.uhidNode.c_str(), R_OK | W_OK) != 0)
            std::fprintf(stderr, "dvk-uhid-controller: %s is only for root: run this as root\n",
                         options.uhidNode.c_str());
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const bool vanishes = options.vanishAfter >= 0;
    const Clock::time_point vanishAt =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.vanishAfter * 1000));
    bool started = false;
    bool announced = false;
    const Clock::time_point createdAt = Clock::now();
    // Replies waiting to go, in the order of their requests: each is due
    // --reply-delay (--store-delay for a data piece) after its request (at
    // once by default). A reply is never sent before an earlier one.
    struct Delayed {
        Clock::time_point due;
        std::vector<uint8_t> report;
    };
    std::deque<Delayed> delayed;
    // Rounded up: a wait cut short would look again at once, over and over,
    // until the moment came.
    auto until = [](Clock::time_point when) {
        return std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count());
    };
    while (!stopSignal) {
        while (!delayed.empty() && delayed.front().due <= Clock::now()) {
            if (!device.SendInput(delayed.front().report)) {
                std::fprintf(stderr, "dvk-uhid-controller: %s\n", device.Error().c_str());
                return 1;
            }
            delayed.pop_front();
        }
        int waitMs = 200;
        if (!delayed.empty())
            waitMs = static_cast<int>(std::min<long long>(waitMs, until(delayed.front().due)));
        if (vanishes) {
            auto left = until(vanishAt);
            if (left <= 0)
                break;
            waitMs = static_cast<int>(std::min<long long>(waitMs, left));
        }
        if (started && !announced) {
            // The node appears right after the driver has started; until then,
            // look again soon.
            std::string node = device.FindHidrawNode();
            if (!node.empty() || Clock::now() - createdAt > std::chrono::seconds(5)) {
                std::printf("ready %s vendor %04x product %04x\n", node.empty() ? "(no hidraw node)" : node.c_str(),
                            options.vendor, options.product);
                announced = true;
            } else {
                waitMs = std::min(waitMs, 10);
            }
        }
        if (options.clockFromHost) {
            dvk_model::ControllerConfig config = model.Config();
            config.clock = HostClock();
            model.SetConfig(config);
        }
        uhid_dvk::Event event = device.WaitEvent(waitMs);
        switch (event.kind) {
        case uhid_dvk::EventKind::Started: started = true; break;
        case uhid_dvk::EventKind::Output:
            if (bool piece = false; auto reply = Answer(model, options, event.data, piece)) {
                const int delayMs = piece && options.storeDelayMs >= 0 ? options.storeDelayMs : options.replyDelayMs;
                delayed.push_back(Delayed{Clock::now() + std::chrono::milliseconds(delayMs), *reply});
            }
            break;
        case uhid_dvk::EventKind::Failed:
            std::fprintf(stderr, "dvk-uhid-controller: reading /dev/uhid failed: %s\n", std::strerror(event.error));
            return 1;
        default: break;
        }
    }
    device.Destroy();
    std::printf("vanished\n");
    return 0;
}
