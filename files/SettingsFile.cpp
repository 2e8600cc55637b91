#include "files/SettingsFile.h"

#include <sstream>
#include <string_view>

#include "core/Utf8.h"

namespace dvk {

XML_Tag BuildSettingsTree(const SettingTexts& texts)
{
    XML_Tag root(kSettingsRoot);
    root.AddAttribute("version", kSettingsVersion);
    for (int i = 0; i < SettingCount; ++i) {
        const SettingInfo& setting = kSettings[i];
        if (i == 0 || std::string_view(setting.fileElement) != kSettings[i - 1].fileElement)
            root.NewChild(setting.fileElement);
        root.children.back().AddAttribute(setting.fileAttribute, ConvertDecimal(texts[i]).value);
    }
    return root;
}

std::string FormatSettingsFile(const SettingTexts& texts)
{
    std::ostringstream out;
    out << BuildSettingsTree(texts) << "\r\n";
    return out.str();
}

namespace {

// The first word of the first attribute called name, when the whole value is
// text: UTF-8 without NUL.
FileFailure GetTextWord(const XML_Tag& element, const std::string& name, std::string& word)
{
    for (const XML_Attrib& attribute : element.attributes) {
        if (attribute.name != name)
            continue;
        if (attribute.value.find('\0') != std::string::npos || !IsValidUtf8(attribute.value))
            return FileFailure::NotUtf8;
        break;
    }
    return element.GetAttributeData(name, word) ? FileFailure::None : FileFailure::MissingValue;
}

FileResult Failed(FileFailure failure, SettingIndex setting = SettingCount)
{
    return FileResult{failure, {}, setting};
}

}  // namespace

FileResult ApplySettingsTree(const XML_Tag& root, const ApplySetting& apply, Expect expect)
{
    if (!root.valid || (expect == Expect::EverySetting && !root.IsTag(kSettingsRoot)))
        return Failed(FileFailure::NotSettings);
    bool applied[SettingCount] = {};
    for (const XML_Tag& element : root.children) {
        bool known = false;
        FileResult result;
        for (int i = 0; i < SettingCount; ++i) {
            if (!element.IsTag(kSettings[i].fileElement))
                continue;
            known = true;
            std::string word;
            const FileFailure failure = GetTextWord(element, kSettings[i].fileAttribute, word);
            if (failure == FileFailure::None) {
                apply(static_cast<SettingIndex>(i), word);
                applied[i] = true;
            } else if (result) {
                result = Failed(failure, static_cast<SettingIndex>(i));
            }
        }
        if (!known)
            return Failed(FileFailure::NotSettings);
        if (!result)
            return result;
    }
    for (int i = 0; expect == Expect::EverySetting && i < SettingCount; ++i) {
        if (!applied[i])
            return Failed(FileFailure::MissingValue, static_cast<SettingIndex>(i));
    }
    return {};
}

FileResult ReadSettingsFile(std::istream& in, const ApplySetting& apply, Expect expect)
{
    // A byte-order mark, as some editors put before UTF-8 text. Anything
    // else that starts like one is not a settings file either.
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    if (in.peek() == static_cast<unsigned char>(kByteOrderMark[0])) {
        char mark[3] = {};
        if (!in.read(mark, 3) || std::string_view(mark, 3) != kByteOrderMark)
            return Failed(FileFailure::NotSettings);
    }
    XML_Tag root;
    in >> root;
    return ApplySettingsTree(root, apply, expect);
}

FileResult ReadSettingsFileAt(const std::string& path, const ApplySetting& apply, Expect expect)
{
    std::string bytes;
    if (FileResult read = ReadRegularFile(path, kMaxSettingsFileBytes, bytes); !read)
        return read;
    std::istringstream in(bytes);
    return ReadSettingsFile(in, apply, expect);
}

}  // namespace dvk
