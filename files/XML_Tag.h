// The element tree of the settings files with its stream reader and writer.
// The dialect is small: an element has a name, ordered attributes and ordered
// child elements; there is no text content, no comments, no declaration, no
// entity references and no escaping. Strings are narrow byte strings.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <locale>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

struct XML_Attrib {
    std::string name;
    std::string value;  // raw: no quoting, escaping or unescaping
};

class XML_Tag {
public:
    // Elements nested deeper than this (the root counts as level 1) make the
    // reader mark them invalid, so hostile input cannot exhaust the stack.
    static constexpr int kMaxDepth = 64;

    std::string name;
    // False for a default tag; the reader sets it true only for an element
    // read completely and well formed, with all its children.
    bool valid = false;
    std::vector<XML_Attrib> attributes;
    std::vector<XML_Tag> children;

    XML_Tag() = default;
    explicit XML_Tag(const std::string& tagName) : name(tagName), valid(true) { }

    void AddAttribute(const std::string& attributeName, const std::string& value);
    void AddAttribute(const std::string& attributeName, const char* value);
    // Plain decimal digits; defined for std::uint32_t.
    template <typename T> void AddAttribute(const std::string& attributeName, T value);

    // The first whitespace-delimited word of the first attribute named
    // exactly attributeName. False, leaving out unchanged, when there is no
    // such attribute or its value is empty or only whitespace.
    template <typename T> bool GetAttributeData(const std::string& attributeName, T& out) const;

    // Appends a valid child without attributes or children. The reference
    // lasts until the next child is appended to this tag.
    XML_Tag& NewChild(const std::string& childName);

    bool IsTag(const std::string& tagName) const { return name == tagName; }

    // The reader's tokeniser: extracts characters (formatted, so the stream's
    // skip-whitespace flag decides whether whitespace is seen) and appends
    // them to out until one of delimiters, which it returns, or one of stops
    // or the end of the stream, for which it returns NUL. The delimiter or
    // stop is consumed, not appended.
    static char GetString(std::istream& in, std::string& out, std::string_view delimiters, std::string_view stops);

    bool operator==(const XML_Tag& other) const;
    bool operator!=(const XML_Tag& other) const { return !(*this == other); }
};

bool operator==(const XML_Attrib& a, const XML_Attrib& b);

// Reads one element; the verdict is tag.valid. Callers pass a default tag.
std::istream& operator>>(std::istream& in, XML_Tag& tag);
// Writes the element and its subtree, each line ended by CR LF. The nesting
// depth travels in the stream's field width (0 or 1: the root's lines start in
// column 1); each level adds one leading tab.
std::ostream& operator<<(std::ostream& out, const XML_Tag& tag);

template <typename T> bool XML_Tag::GetAttributeData(const std::string& attributeName, T& out) const
{
    for (const XML_Attrib& attribute : attributes) {
        if (attribute.name != attributeName)
            continue;
        std::istringstream words(attribute.value);
        words.imbue(std::locale::classic());
        T word;
        if (!(words >> word))
            return false;
        out = word;
        return true;
    }
    return false;
}
