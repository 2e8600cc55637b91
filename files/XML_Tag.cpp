#include "files/XML_Tag.h"

#include <istream>
#include <locale>
#include <ostream>

namespace {

constexpr char kQuote = '"';
constexpr char kTab = '\t';
constexpr char kLineEnd[] = "\r\n";  // on every platform

// The tokeniser's four roles: characters it returns, characters that end it
// with NUL.
constexpr std::string_view kElementNameDelimiters = " />";
constexpr std::string_view kElementNameStops = "<=\"";
constexpr std::string_view kAttributeNameDelimiters = "=";
constexpr std::string_view kAttributeNameStops = "<>/\"";
constexpr std::string_view kAttributeValueDelimiters = "\"";
constexpr std::string_view kAttributeValueStops = "<>/";
constexpr std::string_view kClosingNameDelimiters = ">";
constexpr std::string_view kClosingNameStops = "</\"";

void SkipWhitespace(std::istream& in, bool skip)
{
    if (skip)
        in.setf(std::ios::skipws);
    else
        in.unsetf(std::ios::skipws);
}

// After "/" of an empty element: well formed only when '>' follows at once.
void EndEmptyElement(std::istream& in, XML_Tag& tag)
{
    tag.valid = in.get() == '>';
}

enum class AttributesEnd { Invalid, EmptyElement, Content };

// The attributes after the space that follows an element name, up to the
// '>' that opens the content or the "/>" that ends an empty element.
AttributesEnd ReadAttributes(std::istream& in, XML_Tag& tag)
{
    char lookAhead = 0;
    for (;;) {
        if (lookAhead == '>')
            return AttributesEnd::Content;
        SkipWhitespace(in, true);
        std::string name;
        if (XML_Tag::GetString(in, name, kAttributeNameDelimiters, kAttributeNameStops) != '=')
            return AttributesEnd::Invalid;
        if (in.get() != kQuote)
            return AttributesEnd::Invalid;
        SkipWhitespace(in, false);
        std::string value;
        if (XML_Tag::GetString(in, value, kAttributeValueDelimiters, kAttributeValueStops) != kQuote)
            return AttributesEnd::Invalid;
        tag.attributes.push_back({std::move(name), std::move(value)});

        SkipWhitespace(in, true);
        in >> lookAhead;  // left as it was when nothing is left to read
        if (lookAhead == '/') {
            EndEmptyElement(in, tag);
            return AttributesEnd::EmptyElement;
        }
        in.unget();
        if (!in.good())
            return AttributesEnd::Content;  // which finds the stream spent
    }
}

void ReadElement(std::istream& in, XML_Tag& tag, int depth);

// Children and discarded character data up to the closing tag.
void ReadContent(std::istream& in, XML_Tag& tag, int depth)
{
    while (in.good()) {
        SkipWhitespace(in, false);
        if (in.get() != '<')
            continue;  // text between elements is ignored
        if (in.peek() == '/') {
            in.get();
            SkipWhitespace(in, true);
            std::string closingName;
            tag.valid = XML_Tag::GetString(in, closingName, kClosingNameDelimiters, kClosingNameStops) == '>' &&
                closingName == tag.name;
            return;
        }
        in.unget();
        tag.children.emplace_back();
        XML_Tag& child = tag.children.back();
        ReadElement(in, child, depth + 1);
        if (!child.valid)
            return;
    }
}

void ReadElement(std::istream& in, XML_Tag& tag, int depth)
{
    tag.valid = false;
    if (depth > XML_Tag::kMaxDepth)
        return;
    if (in.get() != '<')
        return;
    SkipWhitespace(in, false);
    switch (XML_Tag::GetString(in, tag.name, kElementNameDelimiters, kElementNameStops)) {
    case '/': EndEmptyElement(in, tag); return;
    case '>': break;
    case ' ':
        switch (ReadAttributes(in, tag)) {
        case AttributesEnd::Content: break;
        case AttributesEnd::Invalid:
        case AttributesEnd::EmptyElement: return;
        }
        break;
    default: return;
    }
    if (in.good())
        ReadContent(in, tag, depth);
}

void WriteIndent(std::ostream& out, std::streamsize tabs)
{
    for (std::streamsize i = 0; i < tabs; ++i)
        out.put(kTab);
}

void WriteText(std::ostream& out, const std::string& text)
{
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteLineEnd(std::ostream& out)
{
    out.write(kLineEnd, sizeof kLineEnd - 1);
}

}  // namespace

void XML_Tag::AddAttribute(const std::string& attributeName, const std::string& value)
{
    attributes.push_back({attributeName, value});
}

void XML_Tag::AddAttribute(const std::string& attributeName, const char* value)
{
    attributes.push_back({attributeName, value});
}

template <typename T> void XML_Tag::AddAttribute(const std::string& attributeName, T value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    attributes.push_back({attributeName, text.str()});
}
template void XML_Tag::AddAttribute<std::uint32_t>(const std::string&, std::uint32_t);

XML_Tag& XML_Tag::NewChild(const std::string& childName)
{
    children.emplace_back(childName);
    return children.back();
}

char XML_Tag::GetString(std::istream& in, std::string& out, std::string_view delimiters, std::string_view stops)
{
    char c;
    while (in.good() && in >> c) {
        if (delimiters.find(c) != std::string_view::npos)
            return c;
        if (stops.find(c) != std::string_view::npos)
            return 0;
        out += c;
    }
    return 0;
}

bool operator==(const XML_Attrib& a, const XML_Attrib& b)
{
    return a.name == b.name && a.value == b.value;
}

bool XML_Tag::operator==(const XML_Tag& other) const
{
    return name == other.name && valid == other.valid && attributes == other.attributes && children == other.children;
}

std::istream& operator>>(std::istream& in, XML_Tag& tag)
{
    ReadElement(in, tag, 1);
    return in;
}

std::ostream& operator<<(std::ostream& out, const XML_Tag& tag)
{
    std::streamsize depth = out.width();
    if (depth <= 0)
        depth = 1;
    out.width(0);
    out.fill(kTab);

    WriteIndent(out, depth - 1);
    out.put('<');
    WriteText(out, tag.name);
    for (const XML_Attrib& attribute : tag.attributes) {
        out.put(' ');
        WriteText(out, attribute.name);
        out.put('=');
        out.put(kQuote);
        WriteText(out, attribute.value);
        out.put(kQuote);
    }
    if (tag.children.empty()) {
        out.put('/');
        out.put('>');
        WriteLineEnd(out);
    } else {
        out.put('>');
        WriteLineEnd(out);
        for (const XML_Tag& child : tag.children) {
            out.width(depth + 1);
            out << child;
        }
        WriteIndent(out, depth - 1);
        out.put('<');
        out.put('/');
        WriteText(out, tag.name);
        out.put('>');
        WriteLineEnd(out);
    }
    out.width(depth);
    return out;
}
