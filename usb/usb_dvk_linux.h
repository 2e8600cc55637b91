// The hidapi platform layer over the hidapi calls it starts, ends and
// enumerates with, so that tests can give calls of their own.
#pragma once

#include <hidapi/hidapi.h>
#include <memory>

#include "usb/usb_dvk.h"

namespace usb_dvk {

// The hidapi calls of the library's start and end and of the enumeration.
struct HidApi {
    decltype(&::hid_init) init;
    decltype(&::hid_exit) exit;
    decltype(&::hid_enumerate) enumerate;
    decltype(&::hid_free_enumeration) freeEnumeration;
    decltype(&::hid_error) error;
};

// The library's own calls.
const HidApi& SystemHidApi();

// The hidapi layer, starting the library and enumerating through the given
// calls; MakeNativePlatform makes one over SystemHidApi.
std::unique_ptr<Platform> MakeHidapiPlatform(const HidApi& api);

}  // namespace usb_dvk
