#include "screen/ProgrammingMessage.h"

#include <cstdint>

namespace dvk {

namespace {
unsigned char SumOfBytes(const std::vector<unsigned char>& bytes, std::size_t first)
{
    unsigned sum = 0;
    for (std::size_t i = first; i < bytes.size(); ++i)
        sum += bytes[i];
    return static_cast<unsigned char>(sum & 0xFF);
}
}  // namespace

void AppendProgrammingMessage(const SettingTexts& texts, std::vector<unsigned char>& message)
{
    constexpr std::size_t kLengthIndex = 1;
    constexpr std::size_t kFirstDataIndex = 3;

    message.push_back(kMessageStartByte);
    message.push_back(0);  // the length, known at the end of the block
    message.push_back(kSettingsBlockType);

    for (int i = 0; i < SettingCount; ++i) {
        const std::uint32_t value = ConvertDecimal(texts[i]).value;
        const SettingInfo& setting = kSettings[i];
        if (setting.byteWidth == 2) {
            message.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
            message.push_back(static_cast<unsigned char>(value & 0xFF));
        } else {
            const auto low = static_cast<unsigned char>(value & 0xFF);
            message.push_back(setting.invertedInMessage ? static_cast<unsigned char>(0xFF - low) : low);
        }
    }

    message.push_back(SumOfBytes(message, kFirstDataIndex));  // data checksum
    message[kLengthIndex] = static_cast<unsigned char>(message.size() - 2);
    message.push_back(SumOfBytes(message, kLengthIndex));  // frame checksum
}

}  // namespace dvk
