#include <gtest/gtest.h>
#include <locale>
#include <sstream>

#include "files/XML_Tag.h"

namespace {

XML_Tag Read(const std::string& text)
{
    std::istringstream in(text);
    XML_Tag tag;
    in >> tag;
    return tag;
}

std::string Write(const XML_Tag& tag, std::streamsize width = 0)
{
    std::ostringstream out;
    out.width(width);
    out << tag;
    return out.str();
}

std::string Nested(int levels)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "<e>";
    for (int i = 0; i < levels; ++i)
        text += "</e>";
    return text;
}

// The tree of the four-line example: r v="1" with children c k="2" and d.
XML_Tag ExampleTree()
{
    XML_Tag root("r");
    root.AddAttribute("v", "1");
    root.NewChild("c").AddAttribute("k", "2");
    root.NewChild("d");
    return root;
}

}  // namespace

TEST(XmlReader, AcceptsEveryWrittenForm)
{
    struct Case {
        const char* text;
        std::size_t attributes;
        std::size_t children;
    };
    const Case cases[] = {
        {"<a/>", 0, 0},
        {"<a></a>", 0, 0},
        {"<a><b/></a>", 0, 1},
        {"<a x=\"1\"/>", 1, 0},
        {"<a x=\"1\" />", 1, 0},
        {"<a x=\"1\"></a>", 1, 0},
        {"<a x=\"1\" ><b/></a>", 1, 1},
        {"<a x=\"1\"y=\"2\"/>", 2, 0},              // no space between attributes
        {"<a x=\"1\"\r\n\t  y=\"2\"\r\n/>", 2, 0},  // line breaks between attributes
        {"<a  x=\"1\"/>", 1, 0},                    // more whitespace after the space
        {"<a x=\"\"/>", 1, 0},                      // empty value
        {"<a x=\"1\" x=\"2\"/>", 2, 0},             // duplicates stored
        {"<a></ a >", 0, 0},                        // whitespace in closing name dropped
        {"<a>\r\n\t<b/>\r\n\t<c></c>\r\n</a>\r\n", 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const XML_Tag tag = Read(c.text);
        EXPECT_TRUE(tag.valid);
        EXPECT_EQ(tag.name, "a");
        EXPECT_EQ(tag.attributes.size(), c.attributes);
        EXPECT_EQ(tag.children.size(), c.children);
        for (const XML_Tag& child : tag.children)
            EXPECT_TRUE(child.valid);
    }
}

TEST(XmlReader, RejectsWhatTheDialectLacks)
{
    const char* const cases[] = {
        "",
        "<a />",          // space then '/': a stop for the attribute name
        "<a >",           // likewise '>'
        "<a x=\"1\"/ >",  // '/' must be followed by '>'
        "<a/ >",
        "<a></b>",  // mismatched closing name
        " <a/>",    // nothing before '<'
        "\r\n<a/>",
        "\xEF\xBB\xBF<a/>",  // byte-order mark
        "<a x= \"1\"/>",     // whitespace between '=' and the quote
        "<a x='1'/>",        // single quotes
        "<a x=\"1/2\"/>",    // '/' in a value
        "<a x=\"<\"/>",
        "<a x=\"1\"",  // input ends inside the tag
        "<a x=\"1",
        "<a>",  // no closing tag
        "<a><b/>",
        "<a\tx=\"1\"/>",  // a tab after the name joins the name
        "<?xml version=\"1.0\"?>\r\n<a/>",
        "<a><!-- note --></a>",
        "<a><![CDATA[x]]></a>",
        "<a><?pi x?></a>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Read(text).valid);
    }
}

TEST(XmlReader, NamesAndValuesAsTheTokeniserSplitsThem)
{
    // "b c" before '=' is one attribute name; whitespace before '=' dropped.
    XML_Tag tag = Read("<a b c=\"1\" x =\"2\"/>");
    ASSERT_TRUE(tag.valid);
    ASSERT_EQ(tag.attributes.size(), 2u);
    EXPECT_EQ(tag.attributes[0], (XML_Attrib{"bc", "1"}));
    EXPECT_EQ(tag.attributes[1], (XML_Attrib{"x", "2"}));

    // Values are raw: spaces kept, '&' ordinary, '=' allowed.
    tag = Read("<a v=\" 1 2 \" w=\"&amp;\" z=\"p=q\"/>");
    ASSERT_TRUE(tag.valid);
    EXPECT_EQ(tag.attributes[0].value, " 1 2 ");
    EXPECT_EQ(tag.attributes[1].value, "&amp;");
    EXPECT_EQ(tag.attributes[2].value, "p=q");

    // A line break directly after the name becomes part of it.
    tag = Read("<a\r\n/>");
    EXPECT_TRUE(tag.valid);
    EXPECT_EQ(tag.name, "a\r\n");
}

TEST(XmlReader, ReadsTheExampleLines)
{
    const XML_Tag tag = Read("<r v=\"1\">\r\n\t<c k=\"2\"/>\r\n</r>\r\n");
    ASSERT_TRUE(tag.valid);
    EXPECT_EQ(tag.name, "r");
    ASSERT_EQ(tag.attributes.size(), 1u);
    EXPECT_EQ(tag.attributes[0], (XML_Attrib{"v", "1"}));
    ASSERT_EQ(tag.children.size(), 1u);
    EXPECT_TRUE(tag.children[0].valid);
    EXPECT_TRUE(tag.children[0].IsTag("c"));
    EXPECT_EQ(tag.children[0].attributes[0], (XML_Attrib{"k", "2"}));
}

TEST(XmlReader, IgnoresTextBetweenElements)
{
    const XML_Tag tag = Read("<r>abc<c/>def > x=\"1\"</r>");
    ASSERT_TRUE(tag.valid);
    ASSERT_EQ(tag.children.size(), 1u);
    EXPECT_EQ(tag.children[0].name, "c");
    EXPECT_TRUE(tag.attributes.empty());
}

TEST(XmlReader, FaultKeepsThePartialTree)
{
    // The invalid grandchild c makes b and r invalid; a, read before, stays.
    const XML_Tag tag = Read("<r x=\"1\"><a/><b y=\"2\"><c date=\"1/2/2020\"/></b><d/></r>");
    EXPECT_FALSE(tag.valid);
    EXPECT_EQ(tag.attributes.size(), 1u);
    ASSERT_EQ(tag.children.size(), 2u);
    EXPECT_TRUE(tag.children[0].valid);
    const XML_Tag& b = tag.children[1];
    EXPECT_FALSE(b.valid);
    EXPECT_EQ(b.attributes.size(), 1u);
    ASSERT_EQ(b.children.size(), 1u);
    EXPECT_FALSE(b.children[0].valid);
    EXPECT_EQ(b.children[0].name, "c");
    EXPECT_TRUE(b.children[0].attributes.empty());
}

TEST(XmlReader, StopsAfterTheClosingTag)
{
    std::istringstream in("<a></a>rest");
    XML_Tag tag;
    in >> tag;
    EXPECT_TRUE(tag.valid);
    std::string rest;
    in >> rest;
    EXPECT_EQ(rest, "rest");
}

TEST(XmlReader, LimitsNestingDepth)
{
    EXPECT_TRUE(Read(Nested(XML_Tag::kMaxDepth)).valid);
    EXPECT_FALSE(Read(Nested(XML_Tag::kMaxDepth + 1)).valid);
    // Far deeper than any stack would take one frame per level for.
    const XML_Tag deep = Read(Nested(1000000));
    EXPECT_FALSE(deep.valid);
}

TEST(XmlTokeniser, ReturnsDelimiterOrNul)
{
    std::istringstream in("ab c=x<y");
    in.unsetf(std::ios::skipws);
    std::string out = "pre";
    EXPECT_EQ(XML_Tag::GetString(in, out, " ", "<"), ' ');
    EXPECT_EQ(out, "preab");  // appended, never cleared
    in.setf(std::ios::skipws);
    out.clear();
    EXPECT_EQ(XML_Tag::GetString(in, out, "=", "<"), '=');
    EXPECT_EQ(out, "c");
    out.clear();
    EXPECT_EQ(XML_Tag::GetString(in, out, "=", "<"), '\0');  // stop consumed
    EXPECT_EQ(out, "x");
    out.clear();
    EXPECT_EQ(XML_Tag::GetString(in, out, "=", "<"), '\0');  // end of input
    EXPECT_EQ(out, "y");
}

TEST(XmlWriter, WritesTheFourLineExample)
{
    EXPECT_EQ(Write(ExampleTree()), "<r v=\"1\">\r\n\t<c k=\"2\"/>\r\n\t<d/>\r\n</r>\r\n");
}

TEST(XmlWriter, IndentsEachLevelAndCarriesDepthInWidth)
{
    XML_Tag root("r");
    XML_Tag& child = root.NewChild("c");
    child.NewChild("g").AddAttribute("a", "1");
    child.NewChild("h");
    root.NewChild("d");
    EXPECT_EQ(Write(root), "<r>\r\n\t<c>\r\n\t\t<g a=\"1\"/>\r\n\t\t<h/>\r\n\t</c>\r\n\t<d/>\r\n</r>\r\n");

    // A root at width 3: two tabs before its lines, three before its children.
    std::ostringstream out;
    out.width(3);
    out << ExampleTree();
    EXPECT_EQ(out.str(), "\t\t<r v=\"1\">\r\n\t\t\t<c k=\"2\"/>\r\n\t\t\t<d/>\r\n\t\t</r>\r\n");
    EXPECT_EQ(out.width(), 3);
    EXPECT_EQ(out.fill(), '\t');
}

TEST(XmlAttributes, NumbersAreWrittenAsPlainDigits)
{
    // Even when the program's locale groups digits.
    struct Grouping : std::numpunct<char> {
        char do_thousands_sep() const override { return ','; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new Grouping));
    XML_Tag tag("t");
    tag.AddAttribute<std::uint32_t>("zero", 0);
    tag.AddAttribute<std::uint32_t>("max", 4294967295u);
    tag.AddAttribute<std::uint32_t>("seven", 7);
    std::locale::global(previous);
    EXPECT_EQ(tag.attributes[0].value, "0");
    EXPECT_EQ(tag.attributes[1].value, "4294967295");
    EXPECT_EQ(tag.attributes[2].value, "7");
}

TEST(XmlAttributes, GetAttributeDataGivesTheFirstWordOfTheFirstMatch)
{
    XML_Tag tag("t");
    tag.AddAttribute("words", "  12 34  ");
    tag.AddAttribute("empty", "");
    tag.AddAttribute("blank", " \t ");
    tag.AddAttribute("twice", "first");
    tag.AddAttribute("twice", "second");

    std::string out = "unchanged";
    EXPECT_TRUE(tag.GetAttributeData("words", out));
    EXPECT_EQ(out, "12");
    out = "unchanged";
    EXPECT_FALSE(tag.GetAttributeData("empty", out));
    EXPECT_FALSE(tag.GetAttributeData("blank", out));
    EXPECT_FALSE(tag.GetAttributeData("missing", out));
    EXPECT_FALSE(tag.GetAttributeData("Words", out));  // case-sensitive
    EXPECT_FALSE(tag.GetAttributeData("word", out));   // whole name
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(tag.GetAttributeData("twice", out));
    EXPECT_EQ(out, "first");
}

TEST(XmlTree, CopiesAreDeepAndChildrenKeepOrder)
{
    XML_Tag root("r");
    for (const char* name : {"a", "b", "c"})
        root.NewChild(name).AddAttribute("n", name);
    XML_Tag copy = root;
    copy.children[0].children.emplace_back("x");
    copy.children[1].attributes[0].value = "changed";
    EXPECT_TRUE(root.children[0].children.empty());
    EXPECT_EQ(root.children[1].attributes[0].value, "b");
    EXPECT_EQ(root.children[2].name, "c");
    EXPECT_FALSE(XML_Tag().valid);
    EXPECT_TRUE(root.children[2].valid);
}

TEST(XmlRoundTrip, WrittenTreesReadBackEqual)
{
    XML_Tag deep("top");
    deep.AddAttribute("spaced", " a b ");
    deep.AddAttribute("signs", "&=!?'");
    deep.AddAttribute("", "no name");
    XML_Tag* level = &deep;
    for (int i = 1; i < XML_Tag::kMaxDepth; ++i) {
        level->NewChild("empty").AddAttribute("i", "x");
        level = &level->NewChild("n");
    }
    for (const XML_Tag& tree : {ExampleTree(), XML_Tag("solo"), deep}) {
        const XML_Tag read = Read(Write(tree));
        EXPECT_TRUE(read.valid);
        EXPECT_EQ(read, tree);
    }
}
