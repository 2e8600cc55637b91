#include "usb/USBTimerDevice.h"

#include <algorithm>
#include <cstring>

#include "usb/TimeText.h"

namespace {
constexpr std::size_t kPieceSize = 60;
// Requests with their terminating zero.
constexpr char kIdRequest[] = "ID";
constexpr char kVersionRequest[] = "VER";
constexpr char kClockRequest[] = "GETTIME";
}  // namespace

bool USBTimerDevice::Exchange(const char* request, std::size_t length, unsigned char* reply)
{
    std::fill_n(reply, usb_dvk::kReportSize, 0);
    std::memcpy(reply, request, length);
    lastQueryFailed = Send64(reply) != usb_dvk::kReportSize || Recv64(reply) != usb_dvk::kReportSize;
    return !lastQueryFailed;
}

std::string USBTimerDevice::QueryText(const char* request, std::size_t length)
{
    unsigned char reply[usb_dvk::kReportSize];
    if (!Exchange(request, length, reply))
        return std::string();
    const unsigned char* begin = reply;
    return std::string(begin, std::find(begin, begin + usb_dvk::kReportSize, 0));
}

std::string USBTimerDevice::GetDeviceID()
{
    return QueryText(kIdRequest, sizeof kIdRequest);
}

std::string USBTimerDevice::GetVersion()
{
    return QueryText(kVersionRequest, sizeof kVersionRequest);
}

std::string USBTimerDevice::GetTimeStr()
{
    unsigned char reply[usb_dvk::kReportSize];
    if (!Exchange(kClockRequest, sizeof kClockRequest, reply))
        return "Error";
    const std::uint8_t dayMask = reply[0] & 0xFE;
    if (dayMask == 0)
        return std::string();
    const std::uint32_t seconds = ((reply[0] << 16) | (reply[1] << 8) | reply[2]) & 0x1FFFF;
    return TimeText(seconds * 1000, dayMask).GetText(0);
}

bool USBTimerDevice::SetData(const std::vector<unsigned char>& message)
{
    return Deliver(message).delivered;
}

Delivery USBTimerDevice::Deliver(const std::vector<unsigned char>& message)
{
    Delivery result;
    for (std::size_t offset = 0; offset < message.size(); ++result.piece) {
        const std::size_t count = std::min(kPieceSize, message.size() - offset);
        unsigned char piece[usb_dvk::kReportSize] = {};
        piece[0] = 'D';
        piece[1] = static_cast<unsigned char>(offset & 0xFF);
        piece[2] = static_cast<unsigned char>((offset >> 8) & 0xFF);
        piece[3] = static_cast<unsigned char>(count);
        std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(offset), count, piece + 4);
        result.delivered = false;
        if (!IsConnected() || Send64(piece) != usb_dvk::kReportSize)
            return result;
        unsigned char reply[usb_dvk::kReportSize];
        if (!IsConnected() || Recv64(reply) != usb_dvk::kReportSize)
            return result;
        if (reply[0] != 0x4F || reply[1] != 0x4B) {
            result.rejected = true;
            return result;
        }
        result.delivered = true;
        offset += count;
    }
    return result;
}
