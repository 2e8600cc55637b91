#include "tools/uhid-controller/ControllerOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace uhid_dvk {

namespace {

// Whole text as an unsigned number in the given base, at most `limit`.
bool ParseUnsigned(const std::string& text, int base, unsigned long limit, unsigned long& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, base);
    return errno == 0 && *end == '\0' && value <= limit;
}

bool ParseId16(std::string text, uint16_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = text.substr(2);
    unsigned long v = 0;
    if (!ParseUnsigned(text, 16, 0xFFFF, v))
        return false;
    value = static_cast<uint16_t>(v);
    return true;
}

bool ParseClock(const std::string& text, std::array<uint8_t, 3>& clock)
{
    if (text.size() != 6)
        return false;
    for (size_t i = 0; i < 3; ++i) {
        unsigned long v = 0;
        if (!ParseUnsigned(text.substr(2 * i, 2), 16, 0xFF, v))
            return false;
        clock[i] = static_cast<uint8_t>(v);
    }
    return true;
}

bool ParseSeconds(const std::string& text, double& seconds)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && seconds >= 0;
}

}  // namespace

std::string ControllerUsage()
{
    return "Usage: dvk-uhid-controller [options]\n"
           "Creates a virtual Dravik controller through /dev/uhid and answers the\n"
           "controller's USB requests until it is stopped (Ctrl-C) or vanishes.\n"
           "\n"
           "  --id TEXT           identification text (default DVK-VIRTUAL)\n"
           "  --version TEXT      version text (default 1.0)\n"
           "  --clock HEX6        clock reply bytes, e.g. 7c7788 (MTuWThF 08:30:00);\n"
           "                      default: this machine's local day and time\n"
           "  --vendor HEX        USB vendor id (default 04d8)\n"
           "  --product HEX       USB product id (default 003f)\n"
           "  --decoy             another device: vendor 1209, product 0001\n"
           "  --name TEXT         HID device name\n"
           "  --reject-piece N    answer data piece N (0 = first) of each message with NO\n"
           "  --never-answer      read every request but never reply\n"
           "  --short-replies     reply with 32-byte reports instead of 64 (the Linux\n"
           "                      HID core drops them: the host sees no answer)\n"
           "  --reply-delay MS    send each reply MS milliseconds after its request\n"
           "  --store-delay MS    the same for the replies to data pieces, as a controller\n"
           "                      that takes time to store a piece (default --reply-delay)\n"
           "  --vanish-after SEC  remove the device and exit after SEC seconds\n"
           "                      (SIGTERM, SIGINT and SIGUSR1 do the same at once)\n"
           "  --print             print every request and the bytes received so far\n"
           "  --uhid PATH         the uhid node (default /dev/uhid)\n"
           "  --help              this text\n";
}

ParsedOptions ParseControllerOptions(const std::vector<std::string>& args)
{
    ParsedOptions result;
    ControllerOptions& o = result.options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                result.error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            result.help = true;
        } else if (arg == "--id") {
            if (!value(o.id))
                return result;
            if (o.id.size() > 64) {
                result.error = "--id takes at most 64 bytes";
                return result;
            }
        } else if (arg == "--version") {
            if (!value(o.version))
                return result;
            if (o.version.size() > 64) {
                result.error = "--version takes at most 64 bytes";
                return result;
            }
        } else if (arg == "--name") {
            if (!value(o.name))
                return result;
        } else if (arg == "--uhid") {
            if (!value(o.uhidNode))
                return result;
        } else if (arg == "--clock") {
            if (!value(v))
                return result;
            if (!ParseClock(v, o.clock)) {
                result.error = "--clock takes 6 hex digits, e.g. 7c7788";
                return result;
            }
            o.clockFromHost = false;
        } else if (arg == "--vendor" || arg == "--product") {
            if (!value(v))
                return result;
            if (!ParseId16(v, arg == "--vendor" ? o.vendor : o.product)) {
                result.error = arg + " takes a hex number up to ffff";
                return result;
            }
        } else if (arg == "--decoy") {
            o.vendor = 0x1209;
            o.product = 0x0001;
            o.name = "Virtual decoy HID device";
        } else if (arg == "--reject-piece") {
            unsigned long n = 0;
            if (!value(v))
                return result;
            if (!ParseUnsigned(v, 10, 65535, n)) {
                result.error = "--reject-piece takes a piece number from 0";
                return result;
            }
            o.rejectPiece = static_cast<int>(n);
        } else if (arg == "--never-answer") {
            o.neverAnswer = true;
        } else if (arg == "--short-replies") {
            o.shortReplies = true;
        } else if (arg == "--reply-delay" || arg == "--store-delay") {
            unsigned long ms = 0;
            if (!value(v))
                return result;
            if (!ParseUnsigned(v, 10, 600000, ms)) {
                result.error = arg + " takes milliseconds (0 to 600000)";
                return result;
            }
            (arg == "--reply-delay" ? o.replyDelayMs : o.storeDelayMs) = static_cast<int>(ms);
        } else if (arg == "--vanish-after") {
            if (!value(v))
                return result;
            if (!ParseSeconds(v, o.vanishAfter)) {
                result.error = "--vanish-after takes seconds (0 or more)";
                return result;
            }
        } else if (arg == "--print") {
            o.print = true;
        } else {
            result.error = "unknown option " + arg;
            return result;
        }
    }
    result.ok = true;
    return result;
}

std::array<uint8_t, 3> ClockBytes(int weekday, int hour, int minute, int second)
{
    uint32_t seconds = static_cast<uint32_t>(hour * 3600 + minute * 60 + second) & 0x1FFFF;
    uint8_t day = static_cast<uint8_t>(0x02u << (weekday % 7));
    return {static_cast<uint8_t>(day | (seconds >> 16)), static_cast<uint8_t>(seconds >> 8),
            static_cast<uint8_t>(seconds)};
}

std::string HexBytes(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

}  // namespace uhid_dvk
