// The Windows platform layer over the SetupAPI calls it enumerates with, so
// that tests can give calls of their own.
#pragma once

#include <windows.h>

#include <memory>
#include <setupapi.h>

#include "usb/usb_dvk.h"

namespace usb_dvk {

// The SetupAPI calls of the enumeration (the ANSI ones).
struct SetupApi {
    decltype(&::SetupDiGetClassDevsA) getClassDevs;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) getDeviceRegistryProperty;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
};

// The system's own calls.
const SetupApi& SystemSetupApi();

// The Windows layer, enumerating through the given calls; MakeNativePlatform
// makes one over SystemSetupApi.
std::unique_ptr<Platform> MakeWin32Platform(const SetupApi& api);

}  // namespace usb_dvk
