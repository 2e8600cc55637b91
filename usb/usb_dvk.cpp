#include "usb/usb_dvk.h"

#include <cstdio>
#include <cstring>

#include "core/Translatable.h"

namespace usb_dvk {

namespace {

class Category : public std::error_category {
public:
    const char* name() const noexcept override { return "usb_dvk"; }
    std::string message(int value) const override
    {
        switch (static_cast<Error>(value)) {
        case Error::Timeout: return DVK_TEXT("timed out");
        case Error::WrongDevice: return DVK_TEXT("the device has other vendor and product ids");
        case Error::ShortWrite: return DVK_TEXT("short write");
        case Error::ShortReply: return DVK_TEXT("short reply");
        case Error::ReplyDue: return DVK_TEXT("the reply to an earlier request has not come");
        }
        return "unknown error " + std::to_string(value);
    }
};

}  // namespace

const std::error_category& TransportCategory()
{
    static const Category category;
    return category;
}

std::error_code make_error_code(Error error)
{
    return std::error_code(static_cast<int>(error), TransportCategory());
}

bool IsAccessDenied(const std::error_code& error)
{
    // Both the system's category and the generic one know these conditions,
    // on Windows too (ERROR_ACCESS_DENIED is permission_denied).
    return error == std::errc::permission_denied || error == std::errc::operation_not_permitted;
}

std::string System::GetDeviceIDStr(std::uint16_t vid, std::uint16_t pid)
{
    char text[32];
    std::snprintf(text, sizeof text, "vid_%04x&pid_%04x", static_cast<unsigned>(vid), static_cast<unsigned>(pid));
    return text;
}

bool System::GetDeviceList(std::uint16_t vid, std::uint16_t pid, DeviceList& list)
{
    lastError.clear();
    const bool ended = platform->Enumerate(GetDeviceIDStr(vid, pid), vid, pid, list, lastError);
    if (ended)
        lastError.clear();
    return ended;
}

namespace {

// Whether the file reaches a device with the device's ids.
bool IsExpectedDevice(DeviceFile& file, const Device& device)
{
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    return file.Identify(vid, pid) && vid == device.GetVendorId() && pid == device.GetProductId();
}

}  // namespace

bool Transfer::Connect(const Device* device)
{
    Disconnect();
    lastError.clear();
    lastCount = 0;
    // Success is judged by the file: the platform sets the error only when
    // an open fails.
    std::unique_ptr<DeviceFile> forWriting = platform->Open(device->GetPath(), Access::Write, lastError);
    if (!forWriting)
        return false;
    std::unique_ptr<DeviceFile> forReading = platform->Open(device->GetPath(), Access::Read, lastError);
    if (!forReading)
        return false;
    // A path names whatever device has it now: a device node freed by an
    // unplugged controller may already belong to another device.
    if (!IsExpectedDevice(*forWriting, *device) || !IsExpectedDevice(*forReading, *device)) {
        lastError = Error::WrongDevice;
        return false;
    }
    writer = std::move(forWriting);
    reader = std::move(forReading);
    lastError.clear();
    // Reports that arrived before this connection asked anything answer
    // nothing it asks.
    Settle();
    return IsConnected();
}

bool Transfer::Settle()
{
    if (!IsConnected())
        return false;
    unsigned char arrived[kTransferSize];
    for (int i = 0; i < kMaxDiscardedReports; ++i) {
        std::error_code error;
        if (reader->Read(arrived, std::chrono::milliseconds(0), error) > 0) {
            if (unanswered > 0)
                --unanswered;
            continue;
        }
        if (error != Error::Timeout) {  // nothing is waiting: a time-out; anything else: the device failed
            lastError = error;
            Disconnect();
            return false;
        }
        break;
    }
    return unanswered == 0;
}

void Transfer::Disconnect()
{
    writer.reset();
    reader.reset();
    unanswered = 0;
}

int Transfer::Send64(const unsigned char* data)
{
    if (!IsConnected())
        return 0;
    lastCount = 0;
    if (unanswered > 0) {
        lastError = Error::ReplyDue;
        return 0;
    }
    report[0] = 0;
    std::memcpy(report + 1, data, kReportSize);
    lastError.clear();
    const int count = writer->Write(report, kTransferTimeLimit, lastError);
    // A report written whole is answered; so may be one whose write ran out
    // of time, as the device may have taken it all the same.
    if (count == kTransferSize || lastError == Error::Timeout)
        ++unanswered;
    if (count != kTransferSize && !lastError)
        lastError = Error::ShortWrite;
    lastCount = count > 0 ? count - 1 : 0;
    return count - 1;
}

int Transfer::Recv64(unsigned char* data)
{
    if (!IsConnected())
        return 0;
    report[0] = 0;
    lastError.clear();
    const int count = reader->Read(report, kTransferTimeLimit, lastError);
    if (count > 0 && unanswered > 0)
        --unanswered;
    if (count != kTransferSize && !lastError)
        lastError = Error::ShortReply;
    lastCount = count > 0 ? count - 1 : 0;
    // Copied even when the read failed; callers test the count first.
    std::memcpy(data, report + 1, kReportSize);
    return count - 1;
}

}  // namespace usb_dvk
