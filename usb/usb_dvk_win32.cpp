// The platform layer on Windows: SetupAPI enumeration of the present HID
// interfaces and synchronous Win32 file I/O on their device paths, with the
// ANSI calls throughout.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // CancelSynchronousIo
#endif
#include <windows.h>
#include <setupapi.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

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

class Win32Platform : public Platform {
public:
    bool Enumerate(const std::string& idString, std::uint16_t, std::uint16_t, DeviceList& list,
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
            SP_DEVINFO_DATA info;
            info.cbSize = sizeof info;
            SetupDiEnumDeviceInfo(set, index, &info);

            std::string hardwareId;
            const HardwareId read = ReadFirstHardwareId(set, info, hardwareId);
            if (read == HardwareId::NoMemory)
                break;
            if (read == HardwareId::Unreadable || hardwareId.find(wanted) == std::string::npos)
                continue;

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
            if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, detailSize, nullptr, nullptr))
                list.push_back(new Device(detail->DevicePath));
            delete[] buffer;
        }
        lastError = ::GetLastError();
        SetupDiDestroyDeviceInfoList(set);
        return lastError == kErrorNoMoreItems;
    }

    Handle Open(const std::string& path, Access access, std::uint32_t& lastError) override
    {
        const DWORD mode = access == Access::Write ? GENERIC_WRITE : GENERIC_READ;
        HANDLE handle = CreateFileA(path.c_str(), mode, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        lastError = ::GetLastError();
        return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(handle);
    }

    int Write(Handle handle, const unsigned char* transfer, std::uint32_t& lastError) override
    {
        DWORD written = 0;
        WriteFile(Win32Handle(handle), transfer, kTransferSize, &written, nullptr);
        lastError = ::GetLastError();
        return static_cast<int>(written);
    }

    // A synchronous read, cancelled by a watchdog when the time runs out.
    int Read(Handle handle, unsigned char* transfer, std::chrono::milliseconds timeLimit,
             std::uint32_t& lastError) override
    {
        HANDLE reader = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &reader, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool timedOut = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!finished.wait_for(lock, timeLimit, [&] { return done; })) {
                timedOut = true;
                CancelSynchronousIo(reader);
            }
        });
        DWORD count = 0;
        const BOOL read = ReadFile(Win32Handle(handle), transfer, kTransferSize, &count, nullptr);
        lastError = ::GetLastError();
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        finished.notify_one();
        watchdog.join();
        CloseHandle(reader);
        if (!read) {
            if (timedOut)
                lastError = kErrorTimeout;
            return 0;
        }
        return static_cast<int>(count);
    }

    void Close(Handle handle) override { CloseHandle(Win32Handle(handle)); }
};

}  // namespace

Platform& NativePlatform()
{
    static Win32Platform platform;
    return platform;
}

}  // namespace usb_dvk
