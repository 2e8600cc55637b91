// A console program for Windows over the Windows USB layer and the
// controller protocol, run with no controller plugged in: the enumeration
// runs to its end and lists nothing; over SetupAPI calls of its own, a
// device with two HID interfaces lists both with the device's own hardware
// id and a failing detail call leaves the enumeration incomplete but goes
// on with the rest; a missing path does not open, a path
// that is no HID device of the controller's ids is refused before anything
// is written, a denied open is told apart, the time limit ends a read that
// gets nothing and a write that is never taken, a read with no time takes
// only what is waiting, and the protocol calls on an unconnected controller
// make no transfer. Named pipes, opened through the layer like a device,
// stand for the devices. Prints one line per check and exits with 1 when
// any failed.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "usb/TimeText.h"
#include "usb/USBTimerDevice.h"
#include "usb/usb_dvk.h"
#include "usb/usb_dvk_windows.h"

namespace {

int failures = 0;

bool Check(bool ok, const std::string& what)
{
    std::printf("%s  %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++failures;
    return ok;
}

void CheckEnumeration(usb_dvk::Platform& native)
{
    usb_dvk::System system(native);
    usb_dvk::DeviceList list;
    const bool ended = system.GetDeviceList(0x04D8, 0x003F, list);
    Check(ended, "GetDeviceList returns true");
    Check(!system.GetLastError(), "no error after the end of the set, got " + system.GetLastError().message());
    Check(list.empty(), "no controller listed, got " + std::to_string(list.size()));
    Check(usb_dvk::System::GetDeviceIDStr(0x04D8, 0x003F) == "vid_04d8&pid_003f", "device id string");
}

// SetupAPI calls over a made-up set of devices and interfaces. An
// interface's data carries its index in Reserved, a device element its index
// in DevInst. A call that succeeds leaves ERROR_NO_MORE_ITEMS behind, as an
// old error may be.
namespace fake {

struct Interface {
    DWORD device;
    const char* path;
    bool detailFails;
};
std::vector<const char*> hardwareIds;  // per device, as the registry holds them (NUL-separated, two NULs at the end)
std::vector<Interface> interfaces;
int sets = 0;                         // open now
DWORD propertyError = ERROR_SUCCESS;  // what reading a device's hardware ids fails with

const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));

HDEVINFO WINAPI GetClassDevs(const GUID*, PCSTR, HWND, DWORD)
{
    ++sets;
    return kSet;
}

BOOL WINAPI EnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    if (index >= interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TRUE;
}

BOOL WINAPI GetDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                      PDWORD required, PSP_DEVINFO_DATA info)
{
    const Interface& entry = interfaces.at(data->Reserved);
    if (entry.detailFails) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + std::strlen(entry.path) + 1);
    if (required != nullptr)
        *required = needed;
    if (detail == nullptr || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof *detail || (info != nullptr && info->cbSize != sizeof *info)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::strcpy(detail->DevicePath, entry.path);
    if (info != nullptr)
        info->DevInst = entry.device;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TRUE;
}

BOOL WINAPI GetProperty(HDEVINFO, PSP_DEVINFO_DATA info, DWORD property, PDWORD, PBYTE buffer, DWORD size,
                        PDWORD required)
{
    if (property != SPDRP_HARDWAREID || info == nullptr || info->DevInst >= hardwareIds.size()) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (propertyError != ERROR_SUCCESS) {
        SetLastError(propertyError);
        return FALSE;
    }
    const char* ids = hardwareIds[info->DevInst];
    DWORD length = 0;
    while (ids[length] != '\0' || ids[length + 1] != '\0')
        ++length;
    length += 2;
    if (required != nullptr)
        *required = length;
    if (buffer == nullptr || size < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, ids, length);
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TRUE;
}

BOOL WINAPI Destroy(HDEVINFO set)
{
    if (set == kSet)
        --sets;
    return TRUE;
}

const usb_dvk::SetupApi kApi = {&GetClassDevs, &EnumDeviceInterfaces, &GetDetail, &GetProperty, &Destroy};

}  // namespace fake

std::string Paths(const usb_dvk::DeviceList& list)
{
    std::string paths;
    for (const usb_dvk::Device& device : list)
        paths += " " + device.GetPath();
    return paths;
}

void CheckEnumerationOverSetupApi()
{
    const char* col01 = "\\\\?\\hid#vid_04d8&pid_003f&col01#1";
    const char* col02 = "\\\\?\\hid#vid_04d8&pid_003f&col02#2";
    // Device 0 is another vendor's; device 1 a controller with two HID
    // interfaces (top-level collections). The interfaces are not in the
    // order of the devices.
    fake::hardwareIds = {"HID\\VID_046D&PID_C52B&REV_1201\0HID\\VID_046D&PID_C52B\0\0",
                         "HID\\VID_04D8&PID_003F&REV_0100\0HID\\VID_04D8&PID_003F\0\0"};
    fake::interfaces = {{1, col01, false}, {0, "\\\\?\\hid#vid_046d&pid_c52b#3", false}, {1, col02, false}};
    const std::unique_ptr<usb_dvk::Platform> platform = usb_dvk::MakeWin32Platform(fake::kApi);
    usb_dvk::System system(*platform);
    usb_dvk::DeviceList list;
    bool ended = system.GetDeviceList(0x04D8, 0x003F, list);
    Check(ended && !system.GetLastError() && list.size() == 2 && list[0].GetPath() == col01 &&
              list[1].GetPath() == col02,
          "two HID interfaces of one controller are both listed, with the device's own hardware id, got" + Paths(list) +
              ", " + system.GetLastError().message());
    Check(fake::sets == 0, "the device information set is destroyed");

    // The detail of the controller's first interface cannot be read: the
    // others are listed, and the enumeration does not count as complete.
    fake::interfaces[0].detailFails = true;
    list.clear();
    ended = system.GetDeviceList(0x04D8, 0x003F, list);
    const std::error_code detailError = usb_dvk::SystemError(static_cast<int>(ERROR_NO_SUCH_DEVINST));
    Check(!ended && system.GetLastError() == detailError && list.size() == 1 && list[0].GetPath() == col02,
          "a failing detail call leaves the enumeration incomplete with its error and lists the rest, got" +
              Paths(list) + ", " + system.GetLastError().message());
    Check(fake::sets == 0, "and the set is destroyed");

    // Hardware ids that cannot be read leave it incomplete too; a device
    // without any (no such property) is only passed over.
    fake::interfaces[0].detailFails = false;
    for (const DWORD code : {DWORD(ERROR_GEN_FAILURE), DWORD(ERROR_INVALID_DATA)}) {
        fake::propertyError = code;
        list.clear();
        ended = system.GetDeviceList(0x04D8, 0x003F, list);
        const bool missed = code != ERROR_INVALID_DATA;
        Check(ended != missed && list.empty() &&
                  system.GetLastError() == (missed ? usb_dvk::SystemError(static_cast<int>(code)) : std::error_code()),
              "hardware ids that fail with " + std::to_string(code) + " to be read leave the enumeration " +
                  (missed ? "incomplete" : "complete") + ", got " + system.GetLastError().message());
    }
    fake::propertyError = ERROR_SUCCESS;
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
// device: the server end, and the client end unless it did not open. Both
// are closed with it.
struct LayerPipe {
    LayerPipe(usb_dvk::Platform& native, const char* name, usb_dvk::Access access) : server(MakePipe(name, 1, 4096))
    {
        std::error_code lastError;
        client = native.Open(name, access, lastError);
        Check(client != nullptr, std::string("pipe ") + name + " opens, last error " + lastError.message());
    }
    ~LayerPipe()
    {
        client.reset();
        CloseHandle(server);
    }
    LayerPipe(const LayerPipe&) = delete;
    LayerPipe& operator=(const LayerPipe&) = delete;

    HANDLE server;
    std::unique_ptr<usb_dvk::DeviceFile> client;
};

void CheckMissingPath(usb_dvk::Platform& native)
{
    const usb_dvk::Device missing =
        ControllerAt("\\\\?\\hid#vid_04d8&pid_003f#0#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    usb_dvk::Transfer transfer(native);
    Check(!transfer.Connect(&missing), "Connect to a missing path fails");
    Check(!transfer.IsConnected(), "and leaves the transfer disconnected");
    Check(transfer.GetLastError() && transfer.GetLastError().category() == std::system_category(),
          "with the system's error, got " + transfer.GetLastError().message());
}

// A path that opens, but not to a HID device with the controller's ids.
void CheckNotAController(usb_dvk::Platform& native)
{
    const char* name = "\\\\.\\pipe\\dvk-check-not-a-controller";
    HANDLE writeEnd = MakePipe(name, 2, 4096);
    HANDLE readEnd = MakePipe(name, 2, 4096);
    USBTimerDevice controller(native);
    const usb_dvk::Device device = ControllerAt(name);
    const bool connected = controller.Connect(&device);
    Check(!connected && !controller.IsConnected() && controller.GetLastError() == usb_dvk::Error::WrongDevice,
          "Connect refuses a path that is no HID device of the controller's ids, last error " +
              controller.GetLastError().message());
    const bool delivered = controller.SetData({0x57});
    // Once its client has gone, a pipe with nothing left in it is broken.
    DWORD waiting = 0;
    if (!PeekNamedPipe(writeEnd, nullptr, 0, nullptr, &waiting, nullptr) && ::GetLastError() != ERROR_BROKEN_PIPE)
        waiting = 1;
    Check(!delivered && waiting == 0, "and nothing is written to it, found " + std::to_string(waiting) + " bytes");
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
}

void CheckAccessDenied(usb_dvk::Platform& native)
{
    // A directory does not open as a file: access denied.
    char directory[MAX_PATH] = {};
    GetWindowsDirectoryA(directory, MAX_PATH);
    usb_dvk::Transfer transfer(native);
    const usb_dvk::Device device = ControllerAt(directory);
    const bool connected = transfer.Connect(&device);
    Check(!connected && usb_dvk::IsAccessDenied(transfer.GetLastError()) &&
              transfer.GetLastError() == usb_dvk::SystemError(ERROR_ACCESS_DENIED),
          std::string("a denied open is told apart, path ") + directory + ", last error " +
              transfer.GetLastError().message());
}

// A pipe with nothing in it stands for a controller that never answers.
void CheckReadTimeLimit(usb_dvk::Platform& native)
{
    const LayerPipe pipe(native, "\\\\.\\pipe\\dvk-check-read", usb_dvk::Access::Read);
    if (!pipe.client)
        return;
    usb_dvk::DeviceFile& client = *pipe.client;
    std::error_code lastError;
    unsigned char transfer[usb_dvk::kTransferSize] = {};
    auto start = std::chrono::steady_clock::now();
    const int count = client.Read(transfer, usb_dvk::kTransferTimeLimit, lastError);
    const Milliseconds waited = Since(start);
    Check(count == 0, "a read that gets nothing fails, count " + std::to_string(count));
    Check(lastError == usb_dvk::Error::Timeout, "as timed out, last error " + lastError.message());
    Check(TookTheLimit(waited), "after the time limit, waited " + std::to_string(waited.count()) + " ms");

    start = std::chrono::steady_clock::now();
    const int none = client.Read(transfer, Milliseconds(0), lastError);
    Check(none == 0 && Since(start) < usb_dvk::kTransferTimeLimit / 2,
          "a read with no time and nothing waiting ends at once, waited " + std::to_string(Since(start).count()) +
              " ms");

    // A report that is there is read at once, also with no time.
    unsigned char report[usb_dvk::kTransferSize] = {0, 'O', 'K'};
    DWORD written = 0;
    WriteFile(pipe.server, report, sizeof report, &written, nullptr);
    const int got = client.Read(transfer, Milliseconds(0), lastError);
    Check(got == usb_dvk::kTransferSize && transfer[1] == 'O' && transfer[2] == 'K',
          "a waiting report is read whole, count " + std::to_string(got));
}

// A pipe that nobody reads, filled first, stands for a controller that
// never takes an output report.
void CheckWriteTimeLimit(usb_dvk::Platform& native)
{
    const LayerPipe pipe(native, "\\\\.\\pipe\\dvk-check-write", usb_dvk::Access::Write);
    if (!pipe.client)
        return;
    usb_dvk::DeviceFile& client = *pipe.client;
    std::error_code lastError;
    const unsigned char transfer[usb_dvk::kTransferSize] = {0, 'D'};
    int taken = 0;
    int count = usb_dvk::kTransferSize;
    Milliseconds waited(0);
    while (count == usb_dvk::kTransferSize && taken < 100000) {
        const auto start = std::chrono::steady_clock::now();
        count = client.Write(transfer, usb_dvk::kTransferTimeLimit, lastError);
        waited = Since(start);
        taken += count == usb_dvk::kTransferSize ? 1 : 0;
    }
    Check(count == 0 && lastError == usb_dvk::Error::Timeout,
          "a write that is never taken fails as timed out after " + std::to_string(taken) +
              " writes filled the pipe, last error " + lastError.message());
    Check(TookTheLimit(waited), "after the time limit, waited " + std::to_string(waited.count()) + " ms");
}

void CheckProtocolUnconnected(usb_dvk::Platform& native)
{
    USBTimerDevice controller(native);
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
    // The layer as the programs have it.
    const std::unique_ptr<usb_dvk::Platform> native = usb_dvk::MakeNativePlatform();
    CheckEnumeration(*native);
    CheckEnumerationOverSetupApi();
    CheckMissingPath(*native);
    CheckNotAController(*native);
    CheckAccessDenied(*native);
    CheckReadTimeLimit(*native);
    CheckWriteTimeLimit(*native);
    CheckProtocolUnconnected(*native);
    std::printf("%s\n", failures == 0 ? "windows usb layer: all checks passed" : "windows usb layer: FAILED");
    return failures == 0 ? 0 : 1;
}
