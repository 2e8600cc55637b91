// A console program for Windows over the Windows USB layer and the
// controller protocol, run with no controller plugged in: the enumeration
// runs to its end and lists nothing, a missing path does not open, a path
// that is no HID device of the controller's ids is refused before anything
// is written, a denied open is told apart, the time limit ends a read that
// gets nothing and a write that is never taken, a read with no time takes
// only what is waiting, and the protocol calls on an unconnected controller
// make no transfer. Named pipes, opened through the layer like a device,
// stand for the devices. Prints one line per check and exits with 1 when
// any failed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "TimeText.h"
#include "USBTimerDevice.h"
#include "usb_dvk.h"

namespace {

int failures = 0;

bool Check(bool ok, const std::string& what)
{
    std::printf("%s  %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++failures;
    return ok;
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

using Milliseconds = std::chrono::milliseconds;

Milliseconds Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - start);
}

// Whether a transfer that ran out of time took about the time limit.
bool TookTheLimit(Milliseconds waited)
{
    return waited >= usb_dvk::kTransferTimeLimit - Milliseconds(20) && waited < 4 * usb_dvk::kTransferTimeLimit;
}

usb_dvk::Device ControllerAt(const std::string& path)
{
    return usb_dvk::Device(path.c_str(), 0x04D8, 0x003F);
}

// The server end of a named pipe, with room for `buffer` bytes each way.
HANDLE MakePipe(const char* name, DWORD instances, DWORD buffer)
{
    return CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, instances, buffer, buffer, 0,
                            nullptr);
}

// A pipe with one end opened through the layer, as the layer opens a
// device: the server end, and the client end or kInvalidHandle.
struct LayerPipe {
    HANDLE server;
    usb_dvk::Handle client;
};

LayerPipe OpenPipe(const char* name, usb_dvk::Access access)
{
    LayerPipe pipe{MakePipe(name, 1, 4096), usb_dvk::kInvalidHandle};
    std::uint32_t lastError = 0;
    pipe.client = usb_dvk::NativePlatform().Open(name, access, lastError);
    Check(pipe.client != usb_dvk::kInvalidHandle,
          std::string("pipe ") + name + " opens, last error " + std::to_string(lastError));
    return pipe;
}

void ClosePipe(const LayerPipe& pipe)
{
    if (pipe.client != usb_dvk::kInvalidHandle)
        usb_dvk::NativePlatform().Close(pipe.client);
    CloseHandle(pipe.server);
}

void CheckMissingPath()
{
    const usb_dvk::Device missing =
        ControllerAt("\\\\?\\hid#vid_04d8&pid_003f#0#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    usb_dvk::Transfer transfer;
    Check(!transfer.Connect(&missing), "Connect to a missing path fails");
    Check(!transfer.IsConnected(), "and leaves the transfer disconnected");
    Check(transfer.GetLastError() != 0, "with the platform's error, got " + std::to_string(transfer.GetLastError()));
}

// A path that opens, but not to a HID device with the controller's ids.
void CheckNotAController()
{
    const char* name = "\\\\.\\pipe\\dvk-check-not-a-controller";
    HANDLE writeEnd = MakePipe(name, 2, 4096);
    HANDLE readEnd = MakePipe(name, 2, 4096);
    USBTimerDevice controller;
    const usb_dvk::Device device = ControllerAt(name);
    const bool connected = controller.Connect(&device);
    Check(!connected && !controller.IsConnected() && controller.GetLastError() == usb_dvk::kErrorWrongDevice,
          "Connect refuses a path that is no HID device of the controller's ids, last error " +
              std::to_string(controller.GetLastError()));
    const bool delivered = controller.SetData({0x57});
    // Once its client has gone, a pipe with nothing left in it is broken.
    DWORD waiting = 0;
    if (!PeekNamedPipe(writeEnd, nullptr, 0, nullptr, &waiting, nullptr) && ::GetLastError() != ERROR_BROKEN_PIPE)
        waiting = 1;
    Check(!delivered && waiting == 0, "and nothing is written to it, found " + std::to_string(waiting) + " bytes");
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
}

void CheckAccessDenied()
{
    // A directory does not open as a file: access denied.
    char directory[MAX_PATH] = {};
    GetWindowsDirectoryA(directory, MAX_PATH);
    usb_dvk::Transfer transfer;
    const usb_dvk::Device device = ControllerAt(directory);
    const bool connected = transfer.Connect(&device);
    Check(!connected && usb_dvk::IsAccessDenied(transfer.GetLastError()),
          std::string("a denied open is told apart, path ") + directory + ", last error " +
              std::to_string(transfer.GetLastError()));
}

// A pipe with nothing in it stands for a controller that never answers.
void CheckReadTimeLimit()
{
    const LayerPipe pipe = OpenPipe("\\\\.\\pipe\\dvk-check-read", usb_dvk::Access::Read);
    const usb_dvk::Handle client = pipe.client;
    if (client == usb_dvk::kInvalidHandle) {
        ClosePipe(pipe);
        return;
    }
    std::uint32_t lastError = 0;
    unsigned char transfer[usb_dvk::kTransferSize] = {};
    auto start = std::chrono::steady_clock::now();
    const int count = usb_dvk::NativePlatform().Read(client, transfer, usb_dvk::kTransferTimeLimit, lastError);
    const Milliseconds waited = Since(start);
    Check(count == 0, "a read that gets nothing fails, count " + std::to_string(count));
    Check(lastError == usb_dvk::kErrorTimeout, "as timed out, last error " + std::to_string(lastError));
    Check(TookTheLimit(waited), "after the time limit, waited " + std::to_string(waited.count()) + " ms");

    start = std::chrono::steady_clock::now();
    const int none = usb_dvk::NativePlatform().Read(client, transfer, Milliseconds(0), lastError);
    Check(none == 0 && Since(start) < usb_dvk::kTransferTimeLimit / 2,
          "a read with no time and nothing waiting ends at once, waited " + std::to_string(Since(start).count()) +
              " ms");

    // A report that is there is read at once, also with no time.
    unsigned char report[usb_dvk::kTransferSize] = {0, 'O', 'K'};
    DWORD written = 0;
    WriteFile(pipe.server, report, sizeof report, &written, nullptr);
    const int got = usb_dvk::NativePlatform().Read(client, transfer, Milliseconds(0), lastError);
    Check(got == usb_dvk::kTransferSize && transfer[1] == 'O' && transfer[2] == 'K',
          "a waiting report is read whole, count " + std::to_string(got));
    ClosePipe(pipe);
}

// A pipe that nobody reads, filled first, stands for a controller that
// never takes an output report.
void CheckWriteTimeLimit()
{
    const LayerPipe pipe = OpenPipe("\\\\.\\pipe\\dvk-check-write", usb_dvk::Access::Write);
    const usb_dvk::Handle client = pipe.client;
    if (client == usb_dvk::kInvalidHandle) {
        ClosePipe(pipe);
        return;
    }
    std::uint32_t lastError = 0;
    const unsigned char transfer[usb_dvk::kTransferSize] = {0, 'D'};
    int taken = 0;
    int count = usb_dvk::kTransferSize;
    Milliseconds waited(0);
    while (count == usb_dvk::kTransferSize && taken < 100000) {
        const auto start = std::chrono::steady_clock::now();
        count = usb_dvk::NativePlatform().Write(client, transfer, usb_dvk::kTransferTimeLimit, lastError);
        waited = Since(start);
        taken += count == usb_dvk::kTransferSize ? 1 : 0;
    }
    Check(count == 0 && lastError == usb_dvk::kErrorTimeout,
          "a write that is never taken fails as timed out after " + std::to_string(taken) +
              " writes filled the pipe, last error " + std::to_string(lastError));
    Check(TookTheLimit(waited), "after the time limit, waited " + std::to_string(waited.count()) + " ms");
    ClosePipe(pipe);
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
    CheckNotAController();
    CheckAccessDenied();
    CheckReadTimeLimit();
    CheckWriteTimeLimit();
    CheckProtocolUnconnected();
    std::printf("%s\n", failures == 0 ? "windows usb layer: all checks passed" : "windows usb layer: FAILED");
    return failures == 0 ? 0 : 1;
}
