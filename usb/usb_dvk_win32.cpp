// The platform layer on Windows: SetupAPI enumeration of the present HID
// interfaces and overlapped Win32 file I/O on their device paths, each
// transfer waited for with a time limit and cancelled when it runs out; the
// ANSI calls throughout.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // CancelIoEx
#endif
#include <windows.h>
#include <setupapi.h>
extern "C" {  // the HID header declares C functions without saying so
#include <hidsdi.h>
}

#include <new>

#include "usb_dvk.h"

namespace usb_dvk {

namespace {

// The HID device-interface class.
const GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Lower case as the C locale has it, whatever the current locale.
std::string LowerCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

HANDLE Win32Handle(Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The first of the hardware ids of the element, lower-cased; false when the
// property cannot be read or there is no memory for it.
enum class HardwareId { Read, Unreadable, NoMemory };

HardwareId ReadFirstHardwareId(HDEVINFO set, SP_DEVINFO_DATA& info, std::string& id)
{
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
    char* buffer = new (std::nothrow) char[size + 1];
    if (buffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return HardwareId::NoMemory;
    }
    const bool read = SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr,
                                                        reinterpret_cast<BYTE*>(buffer), size, nullptr);
    buffer[size] = '\0';
    if (read)
        id = LowerCase(buffer);
    delete[] buffer;
    return read ? HardwareId::Read : HardwareId::Unreadable;
}

// One overlapped write or read of a whole transfer, waited for at most
// timeLimit and cancelled when the time runs out. Returns the byte count
// moved; 0 with kErrorTimeout when the time ran out.
int TimedTransfer(HANDLE handle, bool write, unsigned char* transfer, std::chrono::milliseconds timeLimit,
                  std::uint32_t& lastError)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        lastError = ::GetLastError();
        return 0;
    }
    const BOOL started = write ? WriteFile(handle, transfer, kTransferSize, nullptr, &overlapped)
                               : ReadFile(handle, transfer, kTransferSize, nullptr, &overlapped);
    if (!started && ::GetLastError() != ERROR_IO_PENDING) {
        lastError = ::GetLastError();
        CloseHandle(overlapped.hEvent);
        return 0;
    }
    bool cancelled = false;
    if (!started && WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(timeLimit.count())) != WAIT_OBJECT_0)
        cancelled = CancelIoEx(handle, &overlapped) != FALSE;
    // The buffer and the structure belong to the transfer until it has
    // ended, completed or cancelled: wait for that.
    DWORD count = 0;
    const bool finished = GetOverlappedResult(handle, &overlapped, &count, TRUE) != FALSE;
    lastError = finished ? ERROR_SUCCESS : ::GetLastError();
    if (cancelled && lastError == ERROR_OPERATION_ABORTED)
        lastError = kErrorTimeout;
    CloseHandle(overlapped.hEvent);
    return finished ? static_cast<int>(count) : 0;
}

class Win32Platform : public Platform {
public:
    bool Enumerate(const std::string& idString, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                   std::uint32_t& lastError) override
    {
        const std::string wanted = LowerCase(idString);
        HDEVINFO set = SetupDiGetClassDevsA(&kHidInterfaceClass, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        // Windows sets the last error only when creating the set fails, so
        // the handle tells whether it did.
        if (set == INVALID_HANDLE_VALUE) {
            lastError = ::GetLastError();
            return lastError == kErrorNoMoreItems;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData;
            interfaceData.cbSize = sizeof interfaceData;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceClass, index, &interfaceData))
                break;
            if (::GetLastError() == ERROR_NO_MORE_ITEMS)
                break;
            DWORD detailSize = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &detailSize, nullptr);
            unsigned char* buffer = new (std::nothrow) unsigned char[detailSize + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)];
            if (buffer == nullptr) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                break;
            }
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
            // The fixed part of the structure: 5 bytes in a 32-bit program,
            // 8 in a 64-bit one.
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            // The device the interface belongs to comes with its path: the
            // set's device at the same index may be another one, as the set
            // also holds devices whose interface is not enabled (yet).
            SP_DEVINFO_DATA info;
            info.cbSize = sizeof info;
            std::string hardwareId;
            HardwareId read = HardwareId::Unreadable;
            if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, detailSize, nullptr, &info))
                read = ReadFirstHardwareId(set, info, hardwareId);
            if (read == HardwareId::Read && hardwareId.find(wanted) != std::string::npos)
                list.push_back(new Device(detail->DevicePath, vid, pid));
            delete[] buffer;
            if (read == HardwareId::NoMemory)
                break;
        }
        lastError = ::GetLastError();
        SetupDiDestroyDeviceInfoList(set);
        return lastError == kErrorNoMoreItems;
    }

    Handle Open(const std::string& path, Access access, std::uint32_t& lastError) override
    {
        const DWORD mode = access == Access::Write ? GENERIC_WRITE : GENERIC_READ;
        HANDLE handle = CreateFileA(path.c_str(), mode, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            lastError = ::GetLastError();
            return kInvalidHandle;
        }
        lastError = 0;
        return reinterpret_cast<Handle>(handle);
    }

    bool Identify(Handle handle, std::uint16_t& vid, std::uint16_t& pid) override
    {
        HIDD_ATTRIBUTES attributes;
        attributes.Size = sizeof attributes;
        if (!HidD_GetAttributes(Win32Handle(handle), &attributes))
            return false;
        vid = attributes.VendorID;
        pid = attributes.ProductID;
        return true;
    }

    int Write(Handle handle, const unsigned char* transfer, std::chrono::milliseconds timeLimit,
              std::uint32_t& lastError) override
    {
        // WriteFile only reads the buffer.
        return TimedTransfer(Win32Handle(handle), true, const_cast<unsigned char*>(transfer), timeLimit, lastError);
    }

    int Read(Handle handle, unsigned char* transfer, std::chrono::milliseconds timeLimit,
             std::uint32_t& lastError) override
    {
        return TimedTransfer(Win32Handle(handle), false, transfer, timeLimit, lastError);
    }

    void Close(Handle handle) override { CloseHandle(Win32Handle(handle)); }

    bool IsAccessDenied(std::uint32_t code) const override { return code == ERROR_ACCESS_DENIED; }
};

}  // namespace

Platform& NativePlatform()
{
    static Win32Platform platform;
    return platform;
}

}  // namespace usb_dvk
