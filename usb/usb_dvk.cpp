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
    Platform& platform = CurrentPlatform();
    // Success is judged by the handle: the platform sets its error code only
    // when an open fails.
    writeHandle = platform.Open(device->GetPath(), Access::Write, lastError);
    if (writeHandle == kInvalidHandle)
        return false;
    readHandle = platform.Open(device->GetPath(), Access::Read, lastError);
    if (readHandle == kInvalidHandle) {
        platform.Close(writeHandle);
        writeHandle = kInvalidHandle;
        return false;
    }
    connected = true;
    return true;
}

void Transfer::Disconnect()
{
    if (!connected)
        return;
    Platform& platform = CurrentPlatform();
    platform.Close(writeHandle);
    platform.Close(readHandle);
    writeHandle = kInvalidHandle;
    readHandle = kInvalidHandle;
    connected = false;
}

int Transfer::Send64(const unsigned char* data)
{
    if (!connected)
        return 0;
    report[0] = 0;
    std::memcpy(report + 1, data, kReportSize);
    return CurrentPlatform().Write(writeHandle, report, lastError) - 1;
}

int Transfer::Recv64(unsigned char* data)
{
    if (!connected)
        return 0;
    report[0] = 0;
    const int count = CurrentPlatform().Read(readHandle, report, kReadTimeLimit, lastError);
    // Copied even when the read failed; callers test the count first.
    std::memcpy(data, report + 1, kReportSize);
    return count - 1;
}

}  // namespace usb_dvk
