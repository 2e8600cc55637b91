// A console program for Windows over the Windows USB layer and the
// controller protocol, run with no controller plugged in: the enumeration
// runs to its end and lists nothing, a missing path does not open, the
// read time limit ends a read that gets nothing, and the protocol calls on
// an unconnected controller make no transfer. Prints one line per check and
// exits with 1 when any failed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "TimeText.h"
#include "USBTimerDevice.h"
#include "usb_dvk.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what)
{
    std::printf("%s  %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++failures;
}

void CheckEnumeration()
{
    usb_dvk::System system;
    usb_dvk::DeviceList list;
    const bool ended = system.GetDeviceList(0x04D8, 0x003F, list);
    Check(ended, "GetDeviceList returns true");
    Check(system.GetLastError() == usb_dvk::kErrorNoMoreItems,
          "last error is 259 (ERROR_NO_MORE_ITEMS), got " + std::to_string(system.GetLastError()));
    Check(list.empty(), "no controller listed, got " + std::to_string(list.size()));
    usb_dvk::System::DeleteList(list);
    Check(usb_dvk::System::GetDeviceIDStr(0x04D8, 0x003F) == "vid_04d8&pid_003f", "device id string");
}

void CheckMissingPath()
{
    const usb_dvk::Device missing("\\\\?\\hid#vid_04d8&pid_003f#0#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    usb_dvk::Transfer transfer;
    Check(!transfer.Connect(&missing), "Connect to a missing path fails");
    Check(!transfer.IsConnected(), "and leaves the transfer disconnected");
    Check(transfer.GetLastError() != 0, "with the platform's error, got " + std::to_string(transfer.GetLastError()));
}

// A pipe with nothing in it stands for a controller that never answers.
void CheckReadTimeLimit()
{
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        Check(false, "CreatePipe");
        return;
    }
    unsigned char transfer[usb_dvk::kTransferSize] = {};
    std::uint32_t lastError = 0;
    const auto start = std::chrono::steady_clock::now();
    const int count = usb_dvk::NativePlatform().Read(reinterpret_cast<usb_dvk::Handle>(readEnd), transfer,
                                                     usb_dvk::kReadTimeLimit, lastError);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    Check(count == 0, "a read that gets nothing fails, count " + std::to_string(count));
    Check(lastError == usb_dvk::kErrorTimeout, "as timed out, last error " + std::to_string(lastError));
    Check(waited >= usb_dvk::kReadTimeLimit - std::chrono::milliseconds(20) && waited < 4 * usb_dvk::kReadTimeLimit,
          "after the read time limit, waited " + std::to_string(waited.count()) + " ms");

    // A report that is there is read at once.
    unsigned char report[usb_dvk::kTransferSize] = {0, 'O', 'K'};
    DWORD written = 0;
    WriteFile(writeEnd, report, sizeof report, &written, nullptr);
    const int got = usb_dvk::NativePlatform().Read(reinterpret_cast<usb_dvk::Handle>(readEnd), transfer,
                                                   usb_dvk::kReadTimeLimit, lastError);
    Check(got == usb_dvk::kTransferSize && transfer[1] == 'O' && transfer[2] == 'K',
          "a waiting report is read whole, count " + std::to_string(got));
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
}

void CheckProtocolUnconnected()
{
    USBTimerDevice controller;
    Check(controller.GetDeviceID().empty(), "GetDeviceID unconnected is empty");
    Check(controller.GetTimeStr() == "Error", "GetTimeStr unconnected is Error");
    Check(controller.SetData({}), "SetData of an empty message is true");
    Check(!controller.SetData({0x57}), "SetData unconnected is false");
    Check(TimeText(45296000, 0xFE).GetText(0) == "Everyday 12:34:56", "TimeText clock form");
    Check(TimeText(3723500, 0).GetText(0) == "01:02:03.5", "TimeText duration form");
}

}  // namespace

int main()
{
    CheckEnumeration();
    CheckMissingPath();
    CheckReadTimeLimit();
    CheckProtocolUnconnected();
    std::printf("%s\n", failures == 0 ? "windows usb layer: all checks passed" : "windows usb layer: FAILED");
    return failures == 0 ? 0 : 1;
}
