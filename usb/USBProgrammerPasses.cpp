#include "USBProgrammerPasses.h"

#include "USBTimerDevice.h"

namespace usb_programmer {

namespace {

bool Stopped(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load();
}

// Length of the UTF-8 sequence that starts with the byte, 0 when no
// sequence starts with it.
int SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

}  // namespace

std::string ValidUtf8OrEmpty(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = SequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return std::string();
        for (int k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return std::string();
        }
        // Overlong forms, surrogates and code points above U+10FFFF.
        const auto second = static_cast<unsigned char>(text[i + (length > 1 ? 1 : 0)]);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
            return std::string();
        i += static_cast<std::size_t>(length);
    }
    return text;
}

bool HasDevice(const Entries& entries, const usb_dvk::Device& device)
{
    for (const Entry& entry : entries) {
        if (entry.device->GetPath() == device.GetPath())
            return true;
    }
    return false;
}

void RefreshPass(usb_dvk::System& system, Entries& entries, const RowSink& sink, const std::atomic<bool>* stop)
{
    usb_dvk::DeviceList found;
    system.GetDeviceList(kVendorId, kProductId, found);  // what was found counts, even after a failure
    for (usb_dvk::Device*& device : found) {
        if (HasDevice(entries, *device))
            continue;
        entries.push_back(Entry{std::unique_ptr<usb_dvk::Device>(device), false});
        device = nullptr;
        sink(RowChange{RowChange::Kind::Append, entries.size() - 1, kCheckingText, false});
    }
    usb_dvk::System::DeleteList(found);

    USBTimerDevice controller;
    for (std::size_t row = 0; row < entries.size();) {
        if (Stopped(stop))
            return;
        Entry& entry = entries[row];
        if (!controller.Connect(entry.device.get())) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(row));
            sink(RowChange{RowChange::Kind::Delete, row, {}, false});
            continue;
        }
        // A stop request is also looked at between the queries, so that it
        // waits for one read at most.
        const std::string id = ValidUtf8OrEmpty(controller.GetDeviceID());
        if (Stopped(stop))
            return;
        const std::string version = ValidUtf8OrEmpty(controller.GetVersion());
        if (Stopped(stop))
            return;
        const std::string clock = ValidUtf8OrEmpty(controller.GetTimeStr());
        sink(RowChange{RowChange::Kind::SetText, row, id + " v" + version + " " + clock, false});
        sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
        ++row;
        controller.Disconnect();
    }
}

void ProgramPass(Entries& entries, const std::vector<unsigned char>& message, const RowSink& sink,
                 const std::atomic<bool>* stop)
{
    USBTimerDevice controller;
    for (std::size_t row = 0; row < entries.size(); ++row) {
        if (Stopped(stop))
            return;
        Entry& entry = entries[row];
        if (controller.Connect(entry.device.get())) {
            entry.programmed = controller.SetData(message);
            controller.Disconnect();
        }
        sink(RowChange{RowChange::Kind::SetCheck, row, {}, entry.programmed});
    }
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
