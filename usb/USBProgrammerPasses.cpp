#include "usb/USBProgrammerPasses.h"

#include <algorithm>

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

// The connection to the entry's device for this pass: the one kept from an
// earlier pass, once it has taken the replies that came meanwhile, or else
// a new one through the platform. Null when a new one does not connect;
// error holds why.
std::unique_ptr<USBTimerDevice> Connection(usb_dvk::Platform& platform, Entry& entry, std::error_code& error)
{
    if (entry.awaiting) {
        std::unique_ptr<USBTimerDevice> kept = std::move(entry.awaiting);
        kept->Settle();
        if (kept->IsConnected())
            return kept;
    }
    auto controller = std::make_unique<USBTimerDevice>(platform);
    if (!controller->Connect(&entry.device)) {
        error = controller->GetLastError();
        return nullptr;
    }
    return controller;
}

// Done with the connection for this pass: kept while a reply is still due,
// closed otherwise.
void Release(Entry& entry, std::unique_ptr<USBTimerDevice> controller)
{
    if (controller->IsAwaitingReply())
        entry.awaiting = std::move(controller);
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
    auto wasFound = [&](const std::string& path) {
        return !report.enumerationEnded || std::find(foundPaths.begin(), foundPaths.end(), path) != foundPaths.end();
    };

    for (std::size_t row = 0; row < entries.size();) {
        if (Stopped(stop))
            break;
        Entry& entry = entries[row];
        const std::string path = entry.device.GetPath();
        std::error_code error;
        const bool found = wasFound(path);
        std::unique_ptr<USBTimerDevice> controller = found ? Connection(system.GetPlatform(), entry, error) : nullptr;
        if (!controller) {
            report.outcomes.push_back(found ? ConnectFailure(path, error) : OutcomeFor(path, Failure::Gone));
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(row));
            sink(RowChange{RowChange::Kind::Delete, row, {}, false});
            continue;
        }
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
            const bool transferFailed =
                outcome.failure == Failure::NoAnswer || outcome.failure == Failure::TransferFailed;
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
        if (Stopped(stop))
            break;
        report.outcomes.push_back(outcome);
        sink(RowChange{RowChange::Kind::SetText, row, id + " v" + version + " " + clock, false});
        sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
        Release(entry, std::move(controller));
        ++row;
    }
    report.listed = entries.size();
    return report;
}

std::vector<Outcome> ProgramPass(usb_dvk::Platform& platform, Entries& entries,
                                 const std::vector<unsigned char>& message, const RowSink& sink,
                                 const std::atomic<bool>* stop)
{
    std::vector<Outcome> outcomes;
    for (std::size_t row = 0; row < entries.size(); ++row) {
        Entry& entry = entries[row];
        const std::string& path = entry.device.GetPath();
        if (Stopped(stop)) {
            outcomes.push_back(OutcomeFor(path, Failure::Stopped));
            continue;
        }
        std::error_code error;
        Outcome outcome = OutcomeFor(path);
        if (std::unique_ptr<USBTimerDevice> controller = Connection(platform, entry, error)) {
            const Delivery delivery = controller->Deliver(message);
            entry.programmed = delivery.delivered;
            if (delivery.rejected) {
                outcome.failure = Failure::Rejected;
                outcome.request = Request::Piece;
                outcome.piece = delivery.piece;
            } else if (!delivery.delivered) {
                outcome = TransferFailure(path, *controller, Request::Piece, delivery.piece);
            }
            Release(entry, std::move(controller));
        } else {
            outcome = ConnectFailure(path, error);
        }
        entry.programFailure = outcome;
        outcomes.push_back(outcome);
        sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
    }
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
