#include "USBProgrammerPasses.h"

#include <algorithm>

#include "USBTimerDevice.h"
#include "Utf8.h"

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
        if (entry.device->GetPath() == device.GetPath())
            return true;
    }
    return false;
}

namespace {

// Why the controller did not connect.
Outcome ConnectFailure(const std::string& path, std::uint32_t error)
{
    Failure failure = Failure::CannotOpen;
    if (error == usb_dvk::kErrorWrongDevice)
        failure = Failure::NotAController;
    else if (usb_dvk::IsAccessDenied(error))
        failure = Failure::PermissionDenied;
    return Outcome{path, failure, error, 0};
}

// Why a write or read of the connected controller failed.
Outcome TransferFailure(const std::string& path, const USBTimerDevice& controller, std::size_t piece = 0)
{
    const Failure failure = controller.IsAwaitingReply() ? Failure::NoAnswer : Failure::TransferFailed;
    return Outcome{path, failure, controller.GetLastError(), piece};
}

// The connection to the entry's device for this pass: the one kept from an
// earlier pass, once it has taken the replies that came meanwhile, or else
// a new one. Null when a new one does not connect; error holds the code.
std::unique_ptr<USBTimerDevice> Connection(Entry& entry, std::uint32_t& error)
{
    if (entry.awaiting) {
        std::unique_ptr<USBTimerDevice> kept = std::move(entry.awaiting);
        kept->Settle();
        if (kept->IsConnected())
            return kept;
    }
    auto controller = std::make_unique<USBTimerDevice>();
    if (!controller->Connect(entry.device.get())) {
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
    for (usb_dvk::Device*& device : found) {
        foundPaths.push_back(device->GetPath());
        if (HasDevice(entries, *device))
            continue;
        entries.push_back(Entry{std::unique_ptr<usb_dvk::Device>(device), false, nullptr});
        device = nullptr;
        sink(RowChange{RowChange::Kind::Append, entries.size() - 1, kCheckingText, false});
    }
    usb_dvk::System::DeleteList(found);
    auto wasFound = [&](const std::string& path) {
        return !report.enumerationEnded || std::find(foundPaths.begin(), foundPaths.end(), path) != foundPaths.end();
    };

    for (std::size_t row = 0; row < entries.size();) {
        if (Stopped(stop))
            break;
        Entry& entry = entries[row];
        const std::string& path = entry.device->GetPath();
        std::uint32_t error = 0;
        const bool found = wasFound(path);
        std::unique_ptr<USBTimerDevice> controller = found ? Connection(entry, error) : nullptr;
        if (!controller) {
            report.outcomes.push_back(found ? ConnectFailure(path, error) : Outcome{path, Failure::Gone, 0, 0});
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(row));
            sink(RowChange{RowChange::Kind::Delete, row, {}, false});
            continue;
        }
        // A stop request is also looked at between the queries, so that it
        // waits for one transfer at most. A query after one that ran out of
        // time sends nothing and fails at once.
        bool failed = false;
        auto query = [&](std::string (USBTimerDevice::*ask)()) {
            std::string text = Stopped(stop) ? std::string() : ValidUtf8OrEmpty(((*controller).*ask)());
            failed = failed || controller->LastQueryFailed();
            return text;
        };
        const std::string id = query(&USBTimerDevice::GetDeviceID);
        const std::string version = query(&USBTimerDevice::GetVersion);
        const std::string clock = query(&USBTimerDevice::GetTimeStr);
        if (Stopped(stop))
            break;
        report.outcomes.push_back(failed ? TransferFailure(path, *controller) : Outcome{path, Failure::None, 0, 0});
        sink(RowChange{RowChange::Kind::SetText, row, id + " v" + version + " " + clock, false});
        sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
        Release(entry, std::move(controller));
        ++row;
    }
    report.listed = entries.size();
    return report;
}

std::vector<Outcome> ProgramPass(Entries& entries, const std::vector<unsigned char>& message, const RowSink& sink,
                                 const std::atomic<bool>* stop)
{
    std::vector<Outcome> outcomes;
    for (std::size_t row = 0; row < entries.size(); ++row) {
        Entry& entry = entries[row];
        const std::string& path = entry.device->GetPath();
        if (Stopped(stop)) {
            outcomes.push_back(Outcome{path, Failure::Stopped, 0, 0});
            continue;
        }
        std::uint32_t error = 0;
        if (std::unique_ptr<USBTimerDevice> controller = Connection(entry, error)) {
            const Delivery delivery = controller->Deliver(message);
            entry.programmed = delivery.delivered;
            if (delivery.delivered)
                outcomes.push_back(Outcome{path, Failure::None, 0, 0});
            else if (delivery.rejected)
                outcomes.push_back(Outcome{path, Failure::Rejected, 0, delivery.piece});
            else
                outcomes.push_back(TransferFailure(path, *controller, delivery.piece));
            Release(entry, std::move(controller));
        } else {
            outcomes.push_back(ConnectFailure(path, error));
        }
        sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
    }
    return outcomes;
}

std::string StatusText(const RefreshReport& report)
{
    for (const Outcome& outcome : report.outcomes) {
        if (outcome.failure == Failure::PermissionDenied)
            return kPermissionDeniedText;
    }
    if (report.listed == 0)
        return "No controller found.";
    if (report.listed == 1)
        return "1 controller found.";
    return std::to_string(report.listed) + " controllers found.";
}

void Rows::Apply(const RowChange& change)
{
    switch (change.kind) {
    case RowChange::Kind::Append:
        texts.push_back(change.text);
        checked.push_back(false);
        break;
    case RowChange::Kind::SetText:
        texts.at(change.row) = change.text;
        break;
    case RowChange::Kind::SetCheck:
        checked.at(change.row) = change.checked;
        break;
    case RowChange::Kind::Delete:
        texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(change.row));
        checked.erase(checked.begin() + static_cast<std::ptrdiff_t>(change.row));
        break;
    }
}

}  // namespace usb_programmer
