// The Linux platform layer over the folders it finds hidraw devices in, so
// that tests can give folders of their own.
#pragma once

#include <memory>
#include <string>

#include "usb/usb_dvk.h"

namespace usb_dvk {

// The hidraw layer: the devices are the entries of classFolder (sysfs's
// /sys/class/hidraw, each with device/uevent) and their files of the same
// name in deviceFolder (/dev). MakeNativePlatform makes the system's.
std::unique_ptr<Platform> MakeHidrawPlatform(std::string classFolder, std::string deviceFolder);

}  // namespace usb_dvk
