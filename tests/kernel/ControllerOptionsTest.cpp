// The virtual controller's option parsing, clock bytes and report
// unwrapping: the parts of dvk-uhid-controller that run without /dev/uhid.
#include <gtest/gtest.h>

#include "tools/uhid-controller/ControllerOptions.h"
#include "tools/uhid-controller/UhidDevice.h"

using namespace uhid_dvk;

namespace {

ParsedOptions Parse(std::vector<std::string> args)
{
    return ParseControllerOptions(args);
}

}  // namespace

TEST(UhidControllerOptions, DefaultsAreAControllerOnTheDravikIds)
{
    ParsedOptions p = Parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.vendor, 0x04D8);
    EXPECT_EQ(p.options.product, 0x003F);
    EXPECT_TRUE(p.options.clockFromHost);
    EXPECT_EQ(p.options.rejectPiece, -1);
    EXPECT_FALSE(p.options.neverAnswer);
    EXPECT_LT(p.options.vanishAfter, 0);
    EXPECT_EQ(p.options.uhidNode, "/dev/uhid");
}

TEST(UhidControllerOptions, ReadsEverySetting)
{
    ParsedOptions p = Parse({"--id",
                             "Unit A",
                             "--version",
                             "2.5",
                             "--clock",
                             "7C7788",
                             "--vendor",
                             "0x1234",
                             "--product",
                             "abcd",
                             "--reject-piece",
                             "2",
                             "--never-answer",
                             "--short-replies",
                             "--reply-delay",
                             "600",
                             "--store-delay",
                             "200",
                             "--vanish-after",
                             "1.5",
                             "--print",
                             "--uhid",
                             "/tmp/x",
                             "--name",
                             "N"});
    ASSERT_TRUE(p.ok) << p.error;
    const ControllerOptions& o = p.options;
    EXPECT_EQ(o.id, "Unit A");
    EXPECT_EQ(o.version, "2.5");
    EXPECT_FALSE(o.clockFromHost);
    EXPECT_EQ(o.clock, (std::array<uint8_t, 3>{0x7C, 0x77, 0x88}));
    EXPECT_EQ(o.vendor, 0x1234);
    EXPECT_EQ(o.product, 0xABCD);
    EXPECT_EQ(o.rejectPiece, 2);
    EXPECT_TRUE(o.neverAnswer);
    EXPECT_TRUE(o.shortReplies);
    EXPECT_EQ(o.replyDelayMs, 600);
    EXPECT_EQ(o.storeDelayMs, 200);
    EXPECT_DOUBLE_EQ(o.vanishAfter, 1.5);
    EXPECT_TRUE(o.print);
    EXPECT_EQ(o.uhidNode, "/tmp/x");
    EXPECT_EQ(o.name, "N");
}

TEST(UhidControllerOptions, DecoyTakesOtherIdsUnlessGivenLater)
{
    ParsedOptions p = Parse({"--decoy"});
    ASSERT_TRUE(p.ok);
    EXPECT_NE(p.options.vendor, 0x04D8);
    p = Parse({"--decoy", "--vendor", "04d8"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.vendor, 0x04D8);
    EXPECT_NE(p.options.product, 0x003F);
}

TEST(UhidControllerOptions, RefusesBadValuesWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--clock", "7c77"},
        {"--clock", "7c77zz"},
        {"--clock", "7c778899"},
        {"--vendor", "10000"},
        {"--vendor", "-1"},
        {"--product", ""},
        {"--product", "0x"},
        {"--reject-piece", "-1"},
        {"--reject-piece", "one"},
        {"--vanish-after", "-2"},
        {"--vanish-after", "soon"},
        {"--id", std::string(65, 'x')},
        {"--id"},
        {"--bogus"},
        {"--print", "extra"},
        {"--reply-delay", "-5"},
    };
    for (const auto& args : bad) {
        ParsedOptions p = Parse(args);
        EXPECT_FALSE(p.ok) << args[0];
        EXPECT_FALSE(p.error.empty()) << args[0];
    }
    ParsedOptions p = Parse({"--id", std::string(64, 'x')});
    EXPECT_TRUE(p.ok);
}

TEST(UhidControllerOptions, HelpIsNoError)
{
    ParsedOptions p = Parse({"--help"});
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.help);
    EXPECT_NE(ControllerUsage().find("--reject-piece"), std::string::npos);
}

TEST(UhidControllerClock, PutsTheWeekdayBitAndSecondsSinceMidnight)
{
    // Monday 08:30:00 is 30600 s.
    EXPECT_EQ(ClockBytes(1, 8, 30, 0), (std::array<uint8_t, 3>{0x04, 0x77, 0x88}));
    // Sunday midnight.
    EXPECT_EQ(ClockBytes(0, 0, 0, 0), (std::array<uint8_t, 3>{0x02, 0x00, 0x00}));
    // Saturday 23:59:59 is 86399 s = 0x1517F: bit 16 goes into byte 0.
    EXPECT_EQ(ClockBytes(6, 23, 59, 59), (std::array<uint8_t, 3>{0x81, 0x51, 0x7F}));
}

TEST(UhidReport, UnwrapsTheReportBehindReportIdZero)
{
    std::vector<uint8_t> output(65, 0);
    output[1] = 'I';
    output[2] = 'D';
    output[64] = 0x99;
    std::vector<uint8_t> payload = ReportPayload64(output);
    ASSERT_EQ(payload.size(), 64u);
    EXPECT_EQ(payload[0], 'I');
    EXPECT_EQ(payload[1], 'D');
    EXPECT_EQ(payload[63], 0x99);

    // A 64-byte report is the payload itself; a short one is padded.
    std::vector<uint8_t> plain(64, 7);
    EXPECT_EQ(ReportPayload64(plain), plain);
    std::vector<uint8_t> shortReport = {'V', 'E', 'R'};
    payload = ReportPayload64(shortReport);
    ASSERT_EQ(payload.size(), 64u);
    EXPECT_EQ(payload[2], 'R');
    EXPECT_EQ(payload[3], 0);
    EXPECT_EQ(payload[63], 0);
}

TEST(UhidReport, DescriptorHasOne64ByteInputAndOutputWithoutReportIds)
{
    std::vector<uint8_t> d = VendorReportDescriptor64();
    int inputs = 0, outputs = 0, count = 0;
    for (size_t i = 0; i < d.size();) {
        uint8_t prefix = d[i];
        size_t size = prefix & 3;
        if (size == 3)
            size = 4;
        uint32_t value = 0;
        for (size_t k = 0; k < size && i + 1 + k < d.size(); ++k)
            value |= d[i + 1 + k] << (8 * k);
        uint8_t tag = prefix & 0xFC;
        EXPECT_NE(tag, 0x84) << "report id item";
        if (tag == 0x94)
            count = static_cast<int>(value);
        if (tag == 0x80) {
            ++inputs;
            EXPECT_EQ(count, 64);
        }
        if (tag == 0x90) {
            ++outputs;
            EXPECT_EQ(count, 64);
        }
        if (tag == 0x74) {
            EXPECT_EQ(value, 8u);
        }
        i += 1 + size;
    }
    EXPECT_EQ(inputs, 1);
    EXPECT_EQ(outputs, 1);
}

TEST(UhidReport, HexBytesSeparatesWithSpaces)
{
    EXPECT_EQ(HexBytes({}), "");
    EXPECT_EQ(HexBytes({0x00, 0xAB, 0x7F}), "00 ab 7f");
}
