#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include "screen/ProgrammingMessage.h"

namespace {

dvk::SettingTexts Texts(std::initializer_list<const wchar_t*> values)
{
    dvk::SettingTexts texts;
    int i = 0;
    for (const wchar_t* value : values)
        texts[i++] = value;
    return texts;
}

// "57 14 ..." as bytes.
std::vector<unsigned char> Bytes(const char* hex)
{
    std::vector<unsigned char> bytes;
    char* end = nullptr;
    for (unsigned long byte = std::strtoul(hex, &end, 16); end != hex; byte = std::strtoul(hex, &end, 16)) {
        bytes.push_back(static_cast<unsigned char>(byte));
        hex = end;
    }
    return bytes;
}

std::vector<unsigned char> Slice(const std::vector<unsigned char>& bytes, long first, long count)
{
    return {bytes.begin() + first, bytes.begin() + first + count};
}

std::vector<unsigned char> Build(const dvk::SettingTexts& texts)
{
    std::vector<unsigned char> message;
    dvk::AppendProgrammingMessage(texts, message);
    return message;
}

const dvk::SettingTexts kExample =
    Texts({L"100", L"500", L"20", L"80", L"600", L"30", L"200", L"1000", L"0", L"128", L"250"});

}  // namespace

TEST(ProgrammingMessage, WorkedExample)
{
    EXPECT_EQ(Build(kExample), Bytes("57 14 57 9B 01 F4 00 14 AF 02 58 00 1E 37 03 E8 00 00 80 00 FA 67 39"));
}

TEST(ProgrammingMessage, AllZero)
{
    EXPECT_EQ(Build(Texts({L"0", L"0", L"0", L"0", L"0", L"0", L"0", L"0", L"0", L"0", L"0"})),
              Bytes("57 14 57 FF 00 00 00 00 FF 00 00 00 00 FF 00 00 00 00 00 00 00 FD 65"));
}

TEST(ProgrammingMessage, CurrentsInvertedSensitivityNot)
{
    const auto message = Build(Texts({L"255", L"0", L"0", L"0", L"0", L"0", L"1", L"0", L"0", L"255", L"0"}));
    EXPECT_EQ(message[3], 0x00);   // stamp current 255
    EXPECT_EQ(message[8], 0xFF);   // stamp return current 0
    EXPECT_EQ(message[13], 0xFE);  // replace die current 1
    EXPECT_EQ(message[18], 0xFF);  // paper sensitivity 255, as it is
}

TEST(ProgrammingMessage, TimesHighByteFirstEachInItsPlace)
{
    // Each time gets a different value so that a swapped pair or a time in
    // another's place shows.
    const auto message =
        Build(Texts({L"0", L"256", L"65535", L"0", L"258", L"4660", L"0", L"1", L"43981", L"0", L"65280"}));
    EXPECT_EQ(Slice(message, 4, 4), Bytes("01 00 FF FF"));
    EXPECT_EQ(Slice(message, 9, 4), Bytes("01 02 12 34"));
    EXPECT_EQ(Slice(message, 14, 4), Bytes("00 01 AB CD"));
    EXPECT_EQ(Slice(message, 19, 2), Bytes("FF 00"));
}

TEST(ProgrammingMessage, FixedLengthAndChecksumsWhateverTheValues)
{
    const auto message = Build(
        Texts({L"255", L"65535", L"65535", L"255", L"65535", L"65535", L"255", L"65535", L"65535", L"255", L"65535"}));
    ASSERT_EQ(message.size(), 23u);
    EXPECT_EQ(message[0], 0x57);
    EXPECT_EQ(message[1], 0x14);
    EXPECT_EQ(message[2], 0x57);
    // Data: three inverted currents 00, sensitivity FF, 7 times FF FF: 15 x FF.
    EXPECT_EQ(message[21], (15 * 0xFF) & 0xFF);
    unsigned frame = 0;
    for (int i = 1; i <= 21; ++i)
        frame += message[i];
    EXPECT_EQ(message[22], frame & 0xFF);
}

// Texts that the USB road sends without validation.
TEST(ProgrammingMessage, UnvalidatedTexts)
{
    dvk::SettingTexts texts = kExample;
    texts[dvk::StampTimeout] = L"1e5";          // digits up to the first non-digit
    texts[dvk::StampDelay] = L"";               // nothing: 0
    texts[dvk::StampReturnTimeout] = L"70000";  // low 16 bits
    texts[dvk::StampReturnCurrent] = L"300";    // 255 - (300 & 0xFF)
    texts[dvk::ReplaceTimeout] = L"-1";         // 4294967295
    texts[dvk::ReplaceCurrent] = L"-1";
    texts[dvk::PaperActivateTime] = L"  +42 ms";
    const auto message = Build(texts);
    ASSERT_EQ(message.size(), 23u);
    EXPECT_EQ(Slice(message, 4, 4), Bytes("00 01 00 00"));
    EXPECT_EQ(message[8], 0xD3);
    EXPECT_EQ(Slice(message, 9, 2), Bytes("11 70"));
    EXPECT_EQ(message[13], 0x00);
    EXPECT_EQ(Slice(message, 14, 2), Bytes("FF FF"));
    EXPECT_EQ(Slice(message, 19, 2), Bytes("00 2A"));
    unsigned data = 0;
    for (int i = 3; i <= 20; ++i)
        data += message[i];
    EXPECT_EQ(message[21], data & 0xFF);
}
