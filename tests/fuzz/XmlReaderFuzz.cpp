// libFuzzer target for the settings-file reader (tools/fuzz-xml.sh builds it in a DVK_FUZZ tree).
// Any input: the reader ends, keeps within its depth limit, marks a tree
// valid only when every element in it is, and a valid tree whose names and
// values the writer can carry reads back equal from what the writer prints.
// The settings walk takes any tree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "files/SettingsFile.h"
#include "files/XML_Tag.h"

namespace {

bool Contains(const std::string& text, const char* characters)
{
    return text.find_first_of(characters) != std::string::npos;
}

constexpr char kWhitespace[] = " \t\n\v\f\r";

// Names without whitespace and markup characters, not empty; values without
// markup characters.
bool Writable(const XML_Tag& tag)
{
    if (tag.name.empty() || Contains(tag.name, kWhitespace) || Contains(tag.name, "<>/=\""))
        return false;
    for (const XML_Attrib& attribute : tag.attributes)
        if (Contains(attribute.name, kWhitespace) || Contains(attribute.name, "<>/=\"") ||
            Contains(attribute.value, "<>/\""))
            return false;
    for (const XML_Tag& child : tag.children)
        if (!Writable(child))
            return false;
    return true;
}

bool AllValid(const XML_Tag& tag)
{
    if (!tag.valid)
        return false;
    for (const XML_Tag& child : tag.children)
        if (!AllValid(child))
            return false;
    return true;
}

int Depth(const XML_Tag& tag)
{
    int deepest = 0;
    for (const XML_Tag& child : tag.children)
        deepest = std::max(deepest, Depth(child));
    return deepest + 1;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    XML_Tag tag;
    in >> tag;

    // The element at the limit is kept, invalid, as the last child.
    Check(Depth(tag) <= XML_Tag::kMaxDepth + 1);
    if (tag.valid) {
        Check(AllValid(tag));
        Check(Depth(tag) <= XML_Tag::kMaxDepth);
    }

    if (tag.valid && Writable(tag)) {
        std::ostringstream out;
        out << tag;
        std::istringstream again(out.str());
        XML_Tag back;
        again >> back;
        Check(back == tag);
        std::ostringstream rewritten;
        rewritten << back;
        Check(rewritten.str() == out.str());
    }

    dvk::ApplySettingsTree(tag, [](dvk::SettingIndex setting, const std::string& word) {
        Check(setting >= 0 && setting < dvk::SettingCount);
        Check(!word.empty() && !Contains(word, kWhitespace));
    });
    return 0;
}
