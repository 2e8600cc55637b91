#include <clocale>
#include <gtest/gtest.h>

#include "core/Settings.h"

using dvk::ConvertDecimal;

namespace {

struct Case {
    const wchar_t* text;
    std::uint32_t value;
    bool ok;
};

// In the C library's C locale, whatever locale the program runs in.
TEST(DecimalConversion, FollowsTheLibraryRuleIn32Bits)
{
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    const Case cases[] = {
        {L"0", 0, true},
        {L"12", 12, true},
        {L" 12", 12, true},  // leading white space is skipped
        {L"\t\n12", 12, true},
        {L"12 ", 12, false},      // trailing white space is not consumed
        {L"\u300012", 0, false},  // an ideographic space is no white space in the C locale
        {L"+12", 12, true},
        {L"-0", 0, true},
        {L"-1", 4294967295u, true},  // negated modulo 2^32
        {L"-4294967295", 1, true},
        {L"007", 7, true},  // leading zeros are not octal
        {L"0x10", 0, false},
        {L"1.5", 1, false},
        {L"1e2", 1, false},
        {L"1,000", 1, false},
        {L"", 0, false},
        {L"   ", 0, false},
        {L"+", 0, false},
        {L"-", 0, false},
        {L"+-1", 0, false},  // one sign only
        {L"- 1", 0, false},
        {L"4294967295", 4294967295u, true},
        {L"4294967296", 4294967295u, false},
        {L"99999999999", 4294967295u, false},
        {L"-4294967296", 4294967295u, false},
        {L"000000000000000000004294967295", 4294967295u, true},
        {L"184467440737095516160", 4294967295u, false},  // beyond 64 bits too
        {L"12abc", 12, false},
    };
    for (const Case& c : cases) {
        const auto r = ConvertDecimal(c.text);
        EXPECT_EQ(r.value, c.value) << "text '" << testing::PrintToString(std::wstring(c.text)) << "'";
        EXPECT_EQ(r.ok, c.ok) << "text '" << testing::PrintToString(std::wstring(c.text)) << "'";
    }
}

dvk::SettingTexts AllValid()
{
    dvk::SettingTexts texts;
    texts.fill(L"0");
    return texts;
}

TEST(Validation, AllZeroIsValidAndEmptyIsNot)
{
    EXPECT_FALSE(dvk::FirstInvalidSetting(AllValid()).has_value());
    dvk::SettingTexts empty;
    EXPECT_EQ(dvk::FirstInvalidSetting(empty), dvk::StampCurrent);
}

TEST(Validation, UpperLimitsOfOneAndTwoByteSettings)
{
    for (int i = 0; i < dvk::SettingCount; ++i) {
        const bool oneByte = dvk::kSettings[i].byteWidth == 1;
        dvk::SettingTexts texts = AllValid();
        texts[i] = oneByte ? L"255" : L"65535";
        EXPECT_FALSE(dvk::FirstInvalidSetting(texts).has_value()) << "setting " << i;
        texts[i] = oneByte ? L"256" : L"65536";
        EXPECT_EQ(dvk::FirstInvalidSetting(texts), i);
        texts[i] = L"-4294967200";  // wraps around to 96
        EXPECT_EQ(dvk::FirstInvalidSetting(texts), i);
        texts[i] = L"-00";
        EXPECT_FALSE(dvk::FirstInvalidSetting(texts).has_value()) << "setting " << i;
    }
    dvk::SettingTexts texts = AllValid();
    texts[dvk::StampCurrent] = L"0255";  // four characters from a file
    EXPECT_FALSE(dvk::FirstInvalidSetting(texts).has_value());
}

TEST(Validation, OnlyTheFirstFailingSettingIsReported)
{
    dvk::SettingTexts texts = AllValid();
    texts[dvk::StampDelay] = L"1.5";
    texts[dvk::PaperSensitivity] = L"300";
    EXPECT_EQ(dvk::FirstInvalidSetting(texts), dvk::StampDelay);
    texts[dvk::StampDelay] = L"15";
    EXPECT_EQ(dvk::FirstInvalidSetting(texts), dvk::PaperSensitivity);
}

TEST(LengthLimit, CutsWhatAnEditInsertsBeyondTheLimit)
{
    struct Edit {
        const wchar_t* before;
        const wchar_t* after;
        const wchar_t* kept;
        std::size_t caret;
    };
    const Edit edits[] = {
        {L"1", L"12", L"12", 2},          // within the limit: unchanged
        {L"1", L"198765", L"198", 3},     // pasted at the end
        {L"17", L"198767", L"197", 2},    // pasted in the middle
        {L"123", L"1234", L"123", 3},     // no room at all
        {L"123", L"19993", L"193", 2},    // the selection 2 replaced
        {L"0255", L"02551", L"0255", 4},  // longer text set by the program does not grow
        {L"0255", L"025", L"025", 3},     // but may shrink
        {L"", L"98765", L"987", 3},
    };
    for (const Edit& e : edits) {
        const dvk::LimitedEdit r = dvk::LimitEdit(e.before, e.after, 3);
        EXPECT_EQ(r.text, e.kept) << testing::PrintToString(std::wstring(e.after));
        EXPECT_EQ(r.caret, e.caret) << testing::PrintToString(std::wstring(e.after));
    }
}

}  // namespace
