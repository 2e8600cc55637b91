#include "usb/USBProgrammerPasses.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/Utf8.h"
#include "usb/USBTimerDevice.h"

namespace usb_programmer {

namespace {

bool Stopped(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load();
}

}  // namespace

std::string ValidUtf8OrEmpty(const std::string& text)
{
    return dvk::IsValidUtf8(text) ? text : std::string();
}

bool HasDevice(const Entries& entries, const usb_dvk::Device& device)
{
    for (const Entry& entry : entries) {
        if (entry.device.GetPath() == device.GetPath())
            return true;
    }
    return false;
}

namespace {

// An outcome of the path, with the failure if any.
Outcome OutcomeFor(const std::string& path, Failure failure = Failure::None)
{
    Outcome outcome;
    outcome.path = path;
    outcome.failure = failure;
    return outcome;
}

// Why the controller did not connect.
Outcome ConnectFailure(const std::string& path, const std::error_code& error)
{
    Outcome outcome = OutcomeFor(path, Failure::CannotOpen);
    if (error == usb_dvk::Error::WrongDevice)
        outcome.failure = Failure::NotAController;
    else if (usb_dvk::IsAccessDenied(error))
        outcome.failure = Failure::PermissionDenied;
    outcome.error = error;
    return outcome;
}

// Why a write or read of the connected controller for the request failed.
Outcome TransferFailure(const std::string& path, const USBTimerDevice& controller, Request request,
                        std::size_t piece = 0)
{
    Outcome outcome = OutcomeFor(path, controller.IsAwaitingReply() ? Failure::NoAnswer : Failure::TransferFailed);
    outcome.error = controller.GetLastError();
    outcome.request = request;
    outcome.piece = piece;
    outcome.count = controller.GetLastCount();
    return outcome;
}

// The connection to the device for this pass: the one kept from an earlier
// pass (awaiting), once it has taken the replies that came meanwhile, or
// else a new one through the platform. Null when a new one does not connect;
// error holds why.
std::unique_ptr<USBTimerDevice> Connection(usb_dvk::Platform& platform, const usb_dvk::Device& device,
                                           std::unique_ptr<USBTimerDevice>& awaiting, std::error_code& error)
{
    if (awaiting) {
        std::unique_ptr<USBTimerDevice> kept = std::move(awaiting);
        kept->Settle();
        if (kept->IsConnected())
            return kept;
    }
    auto controller = std::make_unique<USBTimerDevice>(platform);
    if (!controller->Connect(&device)) {
        error = controller->GetLastError();
        return nullptr;
    }
    return controller;
}

// Done with the connection for this pass: kept while a reply is still due,
// closed otherwise.
void Release(std::unique_ptr<USBTimerDevice>& awaiting, std::unique_ptr<USBTimerDevice> controller)
{
    if (controller->IsAwaitingReply())
        awaiting = std::move(controller);
}

// Serves the devices side by side: work(i) runs for every i below count on
// threads of its own, at most kMaxConcurrentDevices at once, each thread
// taking the next i that nobody has taken; finish(i) runs on the calling
// thread for i = 0, 1, ... in that order, each once work(i) has ended.
// Every thread has ended when it returns. When no thread can be started,
// the calling thread does all the work itself, one device after another.
template <class Work, class Finish> void InRowOrder(std::size_t count, const Work& work, const Finish& finish)
{
    std::mutex mutex;
    std::condition_variable ended;
    std::vector<bool> done(count, false);
    std::size_t next = 0;
    auto serve = [&] {
        for (;;) {
            std::size_t i;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (next == count)
                    return;
                i = next++;
            }
            work(i);
            {
                std::lock_guard<std::mutex> lock(mutex);
                done[i] = true;
            }
            ended.notify_one();
        }
    };
    // Joined however this ends.
    struct Threads : std::vector<std::thread> {
        ~Threads()
        {
            for (std::thread& thread : *this)
                thread.join();
        }
    } threads;
    try {
        while (threads.size() < std::min(count, kMaxConcurrentDevices))
            threads.emplace_back(serve);
    } catch (const std::system_error&) {
        // Out of threads: those already started do it all.
    }
    if (threads.empty())
        serve();
    for (std::size_t i = 0; i < count; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            ended.wait(lock, [&] { return done[i]; });
        }
        finish(i);
    }
}

// One listed device in a refresh: what its thread is given and what it
// finds out.
struct Check {
    usb_dvk::Device device;
    bool found = true;
    // In: the connection kept from an earlier pass, if any. Out: the one to
    // keep after this pass.
    std::unique_ptr<USBTimerDevice> connection;
    Outcome outcome;
    bool connected = false;
    bool stopped = false;
    std::string text;
};

// Connects to the device and asks its three questions.
void Ask(usb_dvk::Platform& platform, Check& check, const std::atomic<bool>* stop)
{
    const std::string& path = check.device.GetPath();
    if (Stopped(stop)) {
        check.stopped = true;
        return;
    }
    if (!check.found) {
        check.outcome = OutcomeFor(path, Failure::Gone);
        return;
    }
    std::error_code error;
    std::unique_ptr<USBTimerDevice> controller = Connection(platform, check.device, check.connection, error);
    if (!controller) {
        check.outcome = ConnectFailure(path, error);
        return;
    }
    check.connected = true;
    // A stop request is also looked at between the queries, so that it
    // waits for one transfer at most. A query after one that ran out of
    // time sends nothing and fails at once. The outcome names the first
    // query that failed, or else the first text that is not UTF-8.
    Outcome outcome = OutcomeFor(path);
    auto query = [&](std::string (USBTimerDevice::*ask)(), Request request) {
        if (Stopped(stop))
            return std::string();
        const std::string received = ((*controller).*ask)();
        std::string text = ValidUtf8OrEmpty(received);
        const bool transferFailed = outcome.failure == Failure::NoAnswer || outcome.failure == Failure::TransferFailed;
        if (!transferFailed && controller->LastQueryFailed()) {
            outcome = TransferFailure(path, *controller, request);
        } else if (outcome.failure == Failure::None && text.size() != received.size()) {
            outcome.failure = Failure::UnreadableText;
            outcome.request = request;
        }
        return text;
    };
    const std::string id = query(&USBTimerDevice::GetDeviceID, Request::Identification);
    const std::string version = query(&USBTimerDevice::GetVersion, Request::Version);
    const std::string clock = query(&USBTimerDevice::GetTimeStr, Request::Clock);
    if (Stopped(stop)) {
        check.stopped = true;
        return;
    }
    check.outcome = outcome;
    check.text = id + " v" + version + " " + clock;
    Release(check.connection, std::move(controller));
}

}  // namespace

RefreshReport RefreshPass(usb_dvk::System& system, Entries& entries, const RowSink& sink, const std::atomic<bool>* stop)
{
    RefreshReport report;
    usb_dvk::DeviceList found;
    // What was found counts, even after a failure; but only a complete
    // enumeration tells which listed paths are gone.
    report.enumerationEnded = system.GetDeviceList(kVendorId, kProductId, found);
    report.enumerationError = system.GetLastError();
    std::vector<std::string> foundPaths;
    for (usb_dvk::Device& device : found) {
        foundPaths.push_back(device.GetPath());
        if (HasDevice(entries, device))
            continue;
        entries.push_back(Entry{std::move(device), false, {}, nullptr});
        sink(RowChange{RowChange::Kind::Append, entries.size() - 1, kCheckingText, false});
    }

    // The threads see only their own checks; the entries and the rows change
    // here, in row order, as the checks come in.
    std::vector<Check> checks;
    checks.reserve(entries.size());
    for (Entry& entry : entries) {
        const std::string& path = entry.device.GetPath();
        const bool wasFound =
            !report.enumerationEnded || std::find(foundPaths.begin(), foundPaths.end(), path) != foundPaths.end();
        checks.push_back(Check{entry.device, wasFound, std::move(entry.awaiting), {}, false, false, {}});
    }
    std::size_t row = 0;
    bool stopped = false;
    InRowOrder(
        checks.size(), [&](std::size_t i) { Ask(system.GetPlatform(), checks[i], stop); },
        [&](std::size_t i) {
            Check& check = checks[i];
            stopped = stopped || check.stopped;
            if (stopped) {
                // Left as it was, with the connection it may still need.
                entries[row++].awaiting = std::move(check.connection);
                return;
            }
            report.outcomes.push_back(check.outcome);
            if (!check.connected) {
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(row));
                sink(RowChange{RowChange::Kind::Delete, row, {}, false});
                return;
            }
            Entry& entry = entries[row];
            entry.awaiting = std::move(check.connection);
            sink(RowChange{RowChange::Kind::SetText, row, check.text, false});
            sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
            ++row;
        });
    report.listed = entries.size();
    return report;
}

std::vector<Outcome> ProgramPass(usb_dvk::Platform& platform, Entries& entries,
                                 const std::vector<unsigned char>& message, const RowSink& sink,
                                 const std::atomic<bool>* stop)
{
    // Each thread changes only the entry it serves; the list keeps its size.
    std::vector<Outcome> outcomes(entries.size());
    InRowOrder(
        entries.size(),
        [&](std::size_t i) {
            Entry& entry = entries[i];
            const std::string& path = entry.device.GetPath();
            if (Stopped(stop)) {
                outcomes[i] = OutcomeFor(path, Failure::Stopped);
                return;
            }
            std::error_code error;
            Outcome outcome = OutcomeFor(path);
            if (std::unique_ptr<USBTimerDevice> controller =
                    Connection(platform, entry.device, entry.awaiting, error)) {
                const Delivery delivery = controller->Deliver(message);
                entry.programmed = delivery.delivered;
                if (delivery.rejected) {
                    outcome.failure = Failure::Rejected;
                    outcome.request = Request::Piece;
                    outcome.piece = delivery.piece;
                } else if (!delivery.delivered) {
                    outcome = TransferFailure(path, *controller, Request::Piece, delivery.piece);
                }
                Release(entry.awaiting, std::move(controller));
            } else {
                outcome = ConnectFailure(path, error);
            }
            entry.programFailure = outcome;
            outcomes[i] = outcome;
        },
        [&](std::size_t i) {
            if (outcomes[i].failure != Failure::Stopped)
                sink(RowChange{RowChange::Kind::SetCheck, i, {}, entries[i].programmed});
        });
    return outcomes;
}

void Rows::Apply(const RowChange& change)
{
    switch (change.kind) {
    case RowChange::Kind::Append:
        texts.push_back(change.text);
        checked.push_back(false);
        break;
    case RowChange::Kind::SetText: texts.at(change.row) = change.text; break;
    case RowChange::Kind::SetCheck: checked.at(change.row) = change.checked; break;
    case RowChange::Kind::Delete:
        texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(change.row));
        checked.erase(checked.begin() + static_cast<std::ptrdiff_t>(change.row));
        break;
    }
}

}  // namespace usb_programmer
