#include "files/FileResultText.h"

#include "core/Settings.h"
#include "core/TextTemplate.h"

namespace dvk {

namespace {

// The texts.
constexpr char kMissingText[] = "no such file";
constexpr char kFolderText[] = "is a folder, not a settings file";
constexpr char kNotRegularText[] = "is not a regular file";
constexpr char kTooLargeText[] = "is larger than {size} MiB, too large for a settings file";
constexpr char kReadOnlyText[] = "is read-only";
constexpr char kNotSettingsText[] = "not a settings file";
constexpr char kNotUtf8Text[] = "{setting} is not UTF-8 text";
constexpr char kMissingValueText[] = "missing {setting}";
constexpr char kSystemText[] = "cannot be read: {error}";
constexpr char kDamagedText[] = "may be damaged";

// A setting's name as the validation's message has it ("stamp delay").
std::string SettingName(SettingIndex setting)
{
    const std::string message = kSettings[setting].invalidMessage;
    return message.substr(message.find(' ') + 1);
}

}  // namespace

std::string FileReason(const FileResult& result)
{
    switch (result.failure) {
    case FileFailure::None: return {};
    case FileFailure::Missing: return kMissingText;
    case FileFailure::Folder: return kFolderText;
    case FileFailure::NotRegular: return kNotRegularText;
    case FileFailure::TooLarge: return FillText(kTooLargeText, {{"size", std::to_string(kMaxSettingsFileBytes >> 20)}});
    case FileFailure::ReadOnly: return kReadOnlyText;
    case FileFailure::NotSettings: return kNotSettingsText;
    case FileFailure::NotUtf8: return FillText(kNotUtf8Text, {{"setting", SettingName(result.setting)}});
    case FileFailure::MissingValue: return FillText(kMissingValueText, {{"setting", SettingName(result.setting)}});
    case FileFailure::System: return FillText(kSystemText, {{"error", result.error.message()}});
    case FileFailure::Damaged: return kDamagedText;
    }
    return {};
}

}  // namespace dvk
