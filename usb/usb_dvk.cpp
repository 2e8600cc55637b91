#include "usb_dvk.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace usb_dvk {

namespace {
std::atomic<Platform*> installedPlatform{nullptr};
}

Platform& CurrentPlatform()
{
    Platform* platform = installedPlatform.load();
    return platform ? *platform : NativePlatform();
}

void SetPlatform(Platform* platform)
{
    installedPlatform.store(platform);
}

bool IsAccessDenied(std::uint32_t code)
{
    return CurrentPlatform().IsAccessDenied(code);
}

std::string System::GetDeviceIDStr(std::uint16_t vid, std::uint16_t pid)
{
    char text[32];
    std::snprintf(text, sizeof text, "vid_%04x&pid_%04x", static_cast<unsigned>(vid), static_cast<unsigned>(pid));
    return text;
}

bool System::GetDeviceList(std::uint16_t vid, std::uint16_t pid, DeviceList& list)
{
    lastError = 0;
    return CurrentPlatform().Enumerate(GetDeviceIDStr(vid, pid), vid, pid, list, lastError);
}

void System::DeleteList(DeviceList& list)
{
    for (Device* device : list)
        delete device;
    list.clear();
}

Transfer::~Transfer()
{
    Disconnect();
}

bool Transfer::Connect(const Device* device)
{
    if (connected)
        Disconnect();
    connected = false;
    unanswered = 0;
    platform = &CurrentPlatform();
    // Success is judged by the handle: the platform sets its error code only
    // when an open fails.
    writeHandle = platform->Open(device->GetPath(), Access::Write, lastError);
    if (writeHandle == kInvalidHandle)
        return false;
    readHandle = platform->Open(device->GetPath(), Access::Read, lastError);
    if (readHandle == kInvalidHandle || !IsExpectedDevice(*device)) {
        if (readHandle != kInvalidHandle)
            platform->Close(readHandle);
        platform->Close(writeHandle);
        writeHandle = kInvalidHandle;
        readHandle = kInvalidHandle;
        return false;
    }
    connected = true;
    lastError = 0;
    // Reports that arrived before this connection asked anything answer
    // nothing it asks.
    Settle();
    return connected;
}

bool Transfer::IsExpectedDevice(const Device& device)
{
    // A path names whatever device has it now: a device node freed by an
    // unplugged controller may already belong to another device.
    for (Handle handle : {writeHandle, readHandle}) {
        std::uint16_t vid = 0;
        std::uint16_t pid = 0;
        if (!platform->Identify(handle, vid, pid) || vid != device.GetVendorId() ||
            pid != device.GetProductId()) {
            lastError = kErrorWrongDevice;
            return false;
        }
    }
    return true;
}

bool Transfer::Settle()
{
    if (!connected)
        return false;
    unsigned char arrived[kTransferSize];
    std::uint32_t error = 0;
    for (int i = 0; i < kMaxDiscardedReports; ++i) {
        if (platform->Read(readHandle, arrived, std::chrono::milliseconds(0), error) > 0) {
            if (unanswered > 0)
                --unanswered;
            continue;
        }
        if (error != kErrorTimeout) {  // nothing is waiting: a time-out; anything else: the device failed
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
    if (!connected)
        return;
    platform->Close(writeHandle);
    platform->Close(readHandle);
    writeHandle = kInvalidHandle;
    readHandle = kInvalidHandle;
    connected = false;
    unanswered = 0;
}

int Transfer::Send64(const unsigned char* data)
{
    if (!connected || unanswered > 0)
        return 0;
    report[0] = 0;
    std::memcpy(report + 1, data, kReportSize);
    const int count = platform->Write(writeHandle, report, kTransferTimeLimit, lastError);
    // A report written whole is answered; so may be one whose write ran out
    // of time, as the device may have taken it all the same.
    if (count == kTransferSize || lastError == kErrorTimeout)
        ++unanswered;
    return count - 1;
}

int Transfer::Recv64(unsigned char* data)
{
    if (!connected)
        return 0;
    report[0] = 0;
    const int count = platform->Read(readHandle, report, kTransferTimeLimit, lastError);
    if (count > 0 && unanswered > 0)
        --unanswered;
    // Copied even when the read failed; callers test the count first.
    std::memcpy(data, report + 1, kReportSize);
    return count - 1;
}

}  // namespace usb_dvk
