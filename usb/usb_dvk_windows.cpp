// The platform layer on Windows: SetupAPI enumeration of the present HID
// interfaces and overlapped Win32 file I/O on their device paths, each
// transfer waited for with a time limit and cancelled when it runs out; the
// ANSI calls throughout. The system's last error is read only right after a
// call that failed: a call that succeeds may leave an old one behind.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // CancelIoEx
#endif
#include "usb/usb_dvk_windows.h"

extern "C" {  // the HID header declares C functions without saying so
#include <hidsdi.h>
}

#include <cassert>
#include <cstring>
#include <new>
#include <vector>

namespace usb_dvk {

namespace {

// The HID device-interface class.
const GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::error_code LastSystemError()
{
    return SystemError(static_cast<int>(::GetLastError()));
}

// Lower case as the C locale has it, whatever the current locale.
std::string LowerCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Closing a handle or destroying a set fails only when it was not open: a
// fault of this layer that the destructors doing it cannot report, so debug
// builds stop on it.
void CheckClosed(BOOL closed)
{
    assert(closed != FALSE);
    static_cast<void>(closed);
}

// A device information set, destroyed with its holder.
class InfoSet {
public:
    InfoSet(const SetupApi& api, HDEVINFO set) : api(api), set(set) { }
    ~InfoSet()
    {
        if (set != INVALID_HANDLE_VALUE)
            CheckClosed(api.destroyDeviceInfoList(set));
    }
    InfoSet(const InfoSet&) = delete;
    InfoSet& operator=(const InfoSet&) = delete;
    explicit operator bool() const { return set != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return set; }

private:
    const SetupApi& api;
    HDEVINFO set;
};

// The interface's device path, with the device information element of the
// device that has the interface; false with the error when either cannot be
// read.
bool ReadInterfaceDetail(const SetupApi& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData,
                         SP_DEVINFO_DATA& info, std::string& path, std::error_code& error)
{
    DWORD size = 0;
    if (api.getDeviceInterfaceDetail(set, &interfaceData, nullptr, 0, &size, nullptr)) {
        // Asked without a buffer, it can only fail for want of one.
        error = SystemError(ERROR_INVALID_DATA);
        return false;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_INSUFFICIENT_BUFFER) {
        error = SystemError(static_cast<int>(code));
        return false;
    }
    // Zero-filled and longer than asked for: the path always ends in a NUL.
    std::vector<unsigned char> buffer(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    // The fixed part of the structure: 5 bytes in a 32-bit program, 8 in a
    // 64-bit one.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!api.getDeviceInterfaceDetail(set, &interfaceData, detail, size, nullptr, &info)) {
        error = LastSystemError();
        return false;
    }
    path = detail->DevicePath;
    return true;
}

// The first of the element's hardware ids, lower-cased, or the empty text
// when the device has none; false with the error when they cannot be read.
bool ReadFirstHardwareId(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA& info, std::string& id,
                         std::error_code& error)
{
    id.clear();
    DWORD size = 0;
    if (!api.getDeviceRegistryProperty(set, &info, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_INVALID_DATA)  // the device has no such property
            return true;
        if (code != ERROR_INSUFFICIENT_BUFFER) {
            error = SystemError(static_cast<int>(code));
            return false;
        }
    }
    if (size == 0)
        return true;
    std::vector<char> buffer(size + 2, '\0');  // a NUL after whatever was read
    if (!api.getDeviceRegistryProperty(set, &info, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                                       size, nullptr)) {
        error = LastSystemError();
        return false;
    }
    id = LowerCase(buffer.data());
    return true;
}

// What an overlapped transfer uses until it has ended: the structure, the
// buffer and the event.
struct OverlappedIo {
    OVERLAPPED overlapped = {};
    unsigned char buffer[kTransferSize] = {};
    ~OverlappedIo()
    {
        if (overlapped.hEvent != nullptr)
            CheckClosed(CloseHandle(overlapped.hEvent));
    }
};

// One overlapped write or read of a whole transfer, waited for at most
// timeLimit and cancelled when the time runs out. Returns the byte count
// moved; 0 with Error::Timeout when the time ran out, or with the wait's
// error when waiting failed and the transfer did not end.
int TimedTransfer(HANDLE handle, bool write, unsigned char* transfer, std::chrono::milliseconds timeLimit,
                  std::error_code& error)
{
    auto io = std::make_unique<OverlappedIo>();
    io->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (io->overlapped.hEvent == nullptr) {
        error = LastSystemError();
        return 0;
    }
    if (write)
        std::memcpy(io->buffer, transfer, kTransferSize);
    const BOOL started = write ? WriteFile(handle, io->buffer, kTransferSize, nullptr, &io->overlapped)
                               : ReadFile(handle, io->buffer, kTransferSize, nullptr, &io->overlapped);
    bool cancelled = false;
    std::error_code waitError;  // of a wait that failed instead of ending or running out
    if (!started) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_IO_PENDING) {
            error = SystemError(static_cast<int>(code));
            return 0;
        }
        const auto wait = static_cast<DWORD>(timeLimit.count());
        const DWORD waited = WaitForSingleObject(io->overlapped.hEvent, wait);
        if (waited == WAIT_FAILED)
            waitError = LastSystemError();
        if (waited != WAIT_OBJECT_0) {
            // Fails with ERROR_NOT_FOUND when the transfer has just ended.
            cancelled = CancelIoEx(handle, &io->overlapped) != FALSE;
            // A cancelled transfer ends at once. One that could not be
            // cancelled may have just ended, or be stuck in its driver: it
            // gets as long again, not for ever.
            const DWORD ended =
                WaitForSingleObject(io->overlapped.hEvent, static_cast<DWORD>(kTransferTimeLimit.count()));
            if (ended == WAIT_FAILED && !waitError)
                waitError = LastSystemError();
            if (ended != WAIT_OBJECT_0) {
                // Still under way: the system may yet write into the
                // structure and the buffer, so they are left to it rather
                // than freed.
                io.release();
                error = waitError ? waitError : make_error_code(Error::Timeout);
                return 0;
            }
        }
    }
    DWORD count = 0;
    if (!GetOverlappedResult(handle, &io->overlapped, &count, FALSE)) {
        const DWORD code = ::GetLastError();
        if (cancelled && code == ERROR_OPERATION_ABORTED)
            error = waitError ? waitError : make_error_code(Error::Timeout);
        else
            error = SystemError(static_cast<int>(code));
        return 0;
    }
    if (!write)
        std::memcpy(transfer, io->buffer, kTransferSize);
    return static_cast<int>(count);
}

// One device file opened for overlapped I/O.
class Win32File : public DeviceFile {
public:
    explicit Win32File(HANDLE handle) : handle(handle) { }
    ~Win32File() override { CheckClosed(CloseHandle(handle)); }

    bool Identify(std::uint16_t& vid, std::uint16_t& pid) override
    {
        HIDD_ATTRIBUTES attributes;
        attributes.Size = sizeof attributes;
        if (!HidD_GetAttributes(handle, &attributes))
            return false;
        vid = attributes.VendorID;
        pid = attributes.ProductID;
        return true;
    }

    int Write(const unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        // Only read from: TimedTransfer copies it before writing.
        return TimedTransfer(handle, true, const_cast<unsigned char*>(transfer), timeLimit, error);
    }

    int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        return TimedTransfer(handle, false, transfer, timeLimit, error);
    }

private:
    HANDLE handle;
};

class Win32Platform : public Platform {
public:
    explicit Win32Platform(const SetupApi& api) : api(api) { }

    bool Enumerate(const std::string& idString, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                   std::error_code& error) override
    {
        try {
            return Walk(LowerCase(idString), vid, pid, list, error);
        } catch (const std::bad_alloc&) {
            error = SystemError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }

    std::unique_ptr<DeviceFile> Open(const std::string& path, Access access, std::error_code& error) override
    {
        const DWORD mode = access == Access::Write ? GENERIC_WRITE : GENERIC_READ;
        HANDLE handle = CreateFileA(path.c_str(), mode, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = LastSystemError();
            return nullptr;
        }
        return std::make_unique<Win32File>(handle);
    }

private:
    // Every interface of the set in turn. An interface whose path, device or
    // hardware ids cannot be read is passed over and the walk goes on, but
    // the enumeration then counts as incomplete: the interface may be a
    // controller's. One whose device has no hardware id is skipped.
    bool Walk(const std::string& wanted, std::uint16_t vid, std::uint16_t pid, DeviceList& list, std::error_code& error)
    {
        const InfoSet set(
            api, api.getClassDevs(&kHidInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (!set) {
            error = LastSystemError();
            return false;
        }
        std::error_code missed;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData = {};
            interfaceData.cbSize = sizeof interfaceData;
            if (!api.enumDeviceInterfaces(set.Get(), nullptr, &kHidInterfaceClass, index, &interfaceData)) {
                const DWORD code = ::GetLastError();
                if (code == ERROR_NO_MORE_ITEMS)
                    break;
                error = SystemError(static_cast<int>(code));
                return false;
            }
            // The device that has this interface, as the detail call gives
            // it: the set's elements are not in the order of its interfaces,
            // and a device may have several.
            SP_DEVINFO_DATA info = {};
            info.cbSize = sizeof info;
            std::string path;
            std::string hardwareId;
            std::error_code readError;
            if (!ReadInterfaceDetail(api, set.Get(), interfaceData, info, path, readError) ||
                !ReadFirstHardwareId(api, set.Get(), info, hardwareId, readError)) {
                if (!missed)
                    missed = readError;
                continue;
            }
            if (hardwareId.find(wanted) != std::string::npos)
                list.emplace_back(path, vid, pid);
        }
        if (missed) {
            error = missed;
            return false;
        }
        return true;
    }

    const SetupApi& api;
};

}  // namespace

const SetupApi& SystemSetupApi()
{
    static const SetupApi api = {&::SetupDiGetClassDevsA, &::SetupDiEnumDeviceInterfaces,
                                 &::SetupDiGetDeviceInterfaceDetailA, &::SetupDiGetDeviceRegistryPropertyA,
                                 &::SetupDiDestroyDeviceInfoList};
    return api;
}

std::unique_ptr<Platform> MakeWin32Platform(const SetupApi& api)
{
    return std::make_unique<Win32Platform>(api);
}

std::unique_ptr<Platform> MakeNativePlatform()
{
    return MakeWin32Platform(SystemSetupApi());
}

}  // namespace usb_dvk
