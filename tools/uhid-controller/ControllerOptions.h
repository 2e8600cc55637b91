// Command-line options of the virtual controller (dvk-uhid-controller).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace uhid_dvk {

struct ControllerOptions {
    std::string name = "Dravik virtual controller";
    uint16_t vendor = 0x04D8;
    uint16_t product = 0x003F;
    std::string id = "DVK-VIRTUAL";
    std::string version = "1.0";
    bool clockFromHost = true;       // clock follows this machine's local time
    std::array<uint8_t, 3> clock{};  // fixed clock reply when !clockFromHost
    int rejectPiece = -1;            // piece index within each message, -1: none
    bool neverAnswer = false;
    bool shortReplies = false;
    int replyDelayMs = 0;     // each reply goes this long after its request
    int storeDelayMs = -1;    // the same for data pieces; negative: replyDelayMs
    double vanishAfter = -1;  // seconds, negative: stay until a signal
    bool print = false;
    std::string uhidNode = "/dev/uhid";
};

struct ParsedOptions {
    bool ok = false;
    bool help = false;
    std::string error;  // set when !ok
    ControllerOptions options;
};

// Parses the arguments after the program name.
ParsedOptions ParseControllerOptions(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string ControllerUsage();

// The clock reply for a local time: day bit (0x02 Sunday .. 0x80 Saturday)
// with bit 16 of the seconds since midnight, then the lower 16 bits.
std::array<uint8_t, 3> ClockBytes(int weekday, int hour, int minute, int second);

// "49 44 00" style hex of the bytes.
std::string HexBytes(const std::vector<uint8_t>& bytes);

}  // namespace uhid_dvk
