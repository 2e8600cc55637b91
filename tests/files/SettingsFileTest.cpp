#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "SettingsFile.h"
#include "SettingsFileSamples.h"

namespace fs = std::filesystem;

namespace {

// What ApplySettingsTree handed over, by setting.
using Applied = std::map<dvk::SettingIndex, std::string>;

struct ReadResult {
    bool ok;
    Applied applied;
};

ReadResult ReadText(const std::string& text)
{
    std::istringstream in(text);
    ReadResult result{false, {}};
    result.ok = dvk::ReadSettingsFile(in, [&result](dvk::SettingIndex setting, const std::string& word) {
        result.applied[setting] = word;
    });
    return result;
}

Applied AllOf(const dvk::SettingTexts& texts)
{
    Applied applied;
    for (int i = 0; i < dvk::SettingCount; ++i) {
        std::string narrow(texts[i].begin(), texts[i].end());
        applied[static_cast<dvk::SettingIndex>(i)] = narrow;
    }
    return applied;
}

using samples::ReadBytes;

void WriteFile(const fs::path& path, const std::string& bytes)
{
    ASSERT_TRUE(samples::WriteBytes(path, bytes)) << path;
}

// A fresh folder removed with its contents at the end.
class Folder {
public:
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "dvkfilesXXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::size_t Entries() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(path), fs::directory_iterator()));
    }
    fs::path path;
};

}  // namespace

TEST(SettingsFileFormat, ExampleIsByteForByte)
{
    const std::string bytes = dvk::FormatSettingsFile(samples::kExampleTexts);
    EXPECT_EQ(bytes.size(), 257u);
    EXPECT_EQ(bytes, samples::kExampleFile);
}

TEST(SettingsFileFormat, FieldTextsBecomeNumbers)
{
    dvk::SettingTexts texts = samples::kExampleTexts;
    texts[dvk::StampCurrent] = L"007";
    texts[dvk::StampTimeout] = L"";
    texts[dvk::StampDelay] = L"-1";
    texts[dvk::StampReturnCurrent] = L"12abc";
    texts[dvk::StampReturnTimeout] = L"1.5";
    texts[dvk::StampReturnDelay] = L"99999999999";
    texts[dvk::ReplaceCurrent] = L" +3";
    const XML_Tag tree = dvk::BuildSettingsTree(texts);
    ASSERT_EQ(tree.children.size(), 4u);
    const auto& stamp = tree.children[0].attributes;
    EXPECT_EQ(stamp[0].value, "7");
    EXPECT_EQ(stamp[1].value, "0");
    EXPECT_EQ(stamp[2].value, "4294967295");
    const auto& stampReturn = tree.children[1].attributes;
    EXPECT_EQ(stampReturn[0].value, "12");
    EXPECT_EQ(stampReturn[1].value, "1");
    EXPECT_EQ(stampReturn[2].value, "4294967295");
    EXPECT_EQ(tree.children[2].attributes[0].value, "3");
}

TEST(SettingsFileRead, ExampleAndItsVariantsOpen)
{
    const Applied all = AllOf(samples::kExampleTexts);
    const std::string variants[] = {
        samples::kExampleFile,
        samples::WithLineEnds(samples::kExampleFile, "\n"),       // LF alone
        samples::IndentedWithSpaces(samples::kExampleFile),
        // Another root name and version.
        samples::Replace(samples::Replace(samples::kExampleFile, "Dravik_38417", "Other"), "version=\"100\"", "version=\"7\""),
        // Attributes in another order, extra attributes, and an element's children ignored.
        "<Dravik_38417>\r\n<Stamp delay=\"40\" extra=\"x\" timeout=\"500\" current=\"120\"/>"
        "<StampReturn current=\"100\" timeout=\"500\" delay=\"40\"><Inner/></StampReturn>"
        "<Replace current=\"150\" timeout=\"900\" delay=\"100\"/>"
        "<PaperSensor activate=\"250\" sensitivity=\"60\"/></Dravik_38417>",
    };
    for (const std::string& text : variants) {
        SCOPED_TRACE(text);
        const ReadResult result = ReadText(text);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.applied, all);
    }
}

TEST(SettingsFileRead, AppliesOnlyWhatIsThere)
{
    // No PaperSensor: its fields are not touched, no error.
    ReadResult result = ReadText(
        "<Dravik_38417 version=\"100\"><Stamp current=\"1\" timeout=\"2\" delay=\"3\"/></Dravik_38417>");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.applied, (Applied{{dvk::StampCurrent, "1"}, {dvk::StampTimeout, "2"}, {dvk::StampDelay, "3"}}));

    // Two words: the first; unvalidated words go through as they are; the later
    // of two elements wins.
    result = ReadText(
        "<r><PaperSensor sensitivity=\" 12 34\" activate=\"abc\"/>"
        "<PaperSensor sensitivity=\"99999\" activate=\"5\"/></r>");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.applied, (Applied{{dvk::PaperSensitivity, "99999"}, {dvk::PaperActivateTime, "5"}}));
    result = ReadText("<r><PaperSensor sensitivity=\" 12 34\" activate=\"abc\"/></r>");
    EXPECT_EQ(result.applied, (Applied{{dvk::PaperSensitivity, "12"}, {dvk::PaperActivateTime, "abc"}}));
}

TEST(SettingsFileRead, FaultsStopTheWalk)
{
    // An unknown element after Stamp: Stamp applied, nothing after Foo.
    ReadResult result = ReadText(samples::Replace(samples::kExampleFile, "\t<StampReturn", "\t<Foo/>\r\n\t<StampReturn"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.applied,
              (Applied{{dvk::StampCurrent, "120"}, {dvk::StampTimeout, "500"}, {dvk::StampDelay, "40"}}));

    // Stamp lacks delay: its other values applied, nothing after it.
    result = ReadText(samples::Replace(samples::kExampleFile, " delay=\"40\"/>\r\n\t<StampReturn", "/>\r\n\t<StampReturn"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.applied, (Applied{{dvk::StampCurrent, "120"}, {dvk::StampTimeout, "500"}}));

    // An empty value counts as missing; the element's later values still apply.
    result = ReadText("<r><Replace current=\"\" timeout=\"9\" delay=\"8\"/><PaperSensor sensitivity=\"1\" activate=\"2\"/></r>");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.applied, (Applied{{dvk::ReplaceTimeout, "9"}, {dvk::ReplaceDelay, "8"}}));

    // A tree the reader rejects applies nothing, even its complete children.
    const std::string invalid[] = {
        "",
        "<?xml version=\"1.0\"?>\r\n" + samples::kExampleFile,
        " " + samples::kExampleFile,
        samples::Replace(samples::kExampleFile, "\"60\"", "\"6/0\""),
        samples::Replace(samples::kExampleFile, "</Dravik_38417>", "</Dravik>"),
        samples::kExampleFile.substr(0, 200),  // cut short
    };
    for (const std::string& text : invalid) {
        SCOPED_TRACE(text);
        result = ReadText(text);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.applied.empty());
    }
}

TEST(SettingsFileRead, ValuesThatAreNotTextAreBad)
{
    // Not UTF-8 (Latin-1, overlong, a surrogate, beyond U+10FFFF, cut short)
    // or holding a NUL: the element's other values apply, nothing after it.
    const std::string bad[] = {"12\xE9", std::string("12\0 0", 5), "\xC0\xB1", "\xED\xA0\x80",
                               "\xF4\x90\x80\x80", "1\xE2\x82"};
    for (const std::string& value : bad) {
        SCOPED_TRACE(testing::PrintToString(value));
        const ReadResult result = ReadText("<r><Replace current=\"" + value + "\" timeout=\"9\" delay=\"8\"/>"
                                           "<PaperSensor sensitivity=\"1\" activate=\"2\"/></r>");
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.applied, (Applied{{dvk::ReplaceTimeout, "9"}, {dvk::ReplaceDelay, "8"}}));
    }
    // Text beyond ASCII is text (validation rejects it later).
    const ReadResult result = ReadText("<r><PaperSensor sensitivity=\"\xE2\x82\xAC\xF0\x9F\x98\x80\" activate=\"2\"/></r>");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.applied.at(dvk::PaperSensitivity), "\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(SettingsFileRead, OnlyRegularFilesUpToOneMebibyteAreRead)
{
    Folder folder;
    const fs::path file = folder.path / "padded.dvk";
    // Whatever follows the root element is not read, but counts.
    std::string bytes = samples::kExampleFile;
    bytes.resize(dvk::kMaxSettingsFileBytes, ' ');
    WriteFile(file, bytes);
    Applied applied;
    const auto apply = [&applied](dvk::SettingIndex setting, const std::string& word) { applied[setting] = word; };
    EXPECT_TRUE(dvk::ReadSettingsFileAt(file.string(), apply));
    EXPECT_EQ(applied, AllOf(samples::kExampleTexts));

    WriteFile(file, bytes + " ");
    applied.clear();
    for (const fs::path& path : {file, folder.path, fs::path("/dev/zero"), folder.path / "missing.dvk"}) {
        EXPECT_FALSE(dvk::ReadSettingsFileAt(path.string(), apply)) << path;
        EXPECT_TRUE(applied.empty()) << path;
    }
}

TEST(SettingsFileRead, ReadsBackWhatWasWritten)
{
    dvk::SettingTexts texts;
    for (int i = 0; i < dvk::SettingCount; ++i)
        texts[i] = std::to_wstring(i * 1000 + 7);
    const ReadResult result = ReadText(dvk::FormatSettingsFile(texts));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.applied, AllOf(texts));
}

TEST(AtomicWrite, ReplacesTheFileAndKeepsItsMode)
{
    Folder folder;
    const fs::path file = folder.path / "settings.dvk";
    WriteFile(file, "old contents that are longer than the new");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);

    struct stat before;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_TRUE(dvk::WriteFileAtomically(file.string(), "new"));
    EXPECT_EQ(ReadBytes(file), "new");
    struct stat status;
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_NE(status.st_ino, before.st_ino);  // replaced, not rewritten
    EXPECT_EQ(folder.Entries(), 1u);  // no temporary file left

    // A new file, and an empty one.
    ASSERT_TRUE(dvk::WriteFileAtomically((folder.path / "new.dvk").string(), ""));
    EXPECT_TRUE(fs::exists(folder.path / "new.dvk"));
    EXPECT_EQ(fs::file_size(folder.path / "new.dvk"), 0u);

    // A name as long as names may be (the temporary file's is cut).
    const fs::path longest = folder.path / (std::string(251, 'n') + ".dvk");
    WriteFile(longest, "old");
    ASSERT_TRUE(dvk::WriteFileAtomically(longest.string(), "new"));
    EXPECT_EQ(ReadBytes(longest), "new");
    EXPECT_EQ(folder.Entries(), 3u);
}

TEST(AtomicWrite, LinksStayLinks)
{
    // A symbolic link is saved at the file it names; a file with another hard
    // link is written in place, so that both names show the new contents.
    Folder folder;
    const fs::path real = folder.path / "real.dvk";
    const fs::path link = folder.path / "link.dvk";
    const fs::path hard = folder.path / "hard.dvk";
    WriteFile(real, "old contents");
    fs::create_symlink(real, link);
    fs::create_hard_link(real, hard);
    ASSERT_TRUE(dvk::WriteFileAtomically(link.string(), "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(hard), "new");
    EXPECT_EQ(fs::hard_link_count(real), 2u);
    EXPECT_EQ(folder.Entries(), 3u);
}

TEST(AtomicWrite, FailsWithoutLeavingAnything)
{
    Folder folder;
    // No such folder; a folder in the way of the file; a plain file as
    // folder; links that lead nowhere, in a circle, or to a device.
    const fs::path existingFile = folder.path / "file";
    WriteFile(existingFile, "keep");
    fs::create_directory(folder.path / "dir.dvk");
    fs::create_symlink(folder.path / "nowhere", folder.path / "dangling.dvk");
    fs::create_symlink(folder.path / "loop.dvk", folder.path / "loop.dvk");
    fs::create_symlink("/dev/null", folder.path / "device.dvk");
    for (const fs::path& path : {folder.path / "missing" / "a.dvk", folder.path / "dir.dvk", existingFile / "a.dvk",
                                 folder.path / "dangling.dvk", folder.path / "loop.dvk", folder.path / "device.dvk"})
        EXPECT_FALSE(dvk::WriteFileAtomically(path.string(), "x")) << path;
    EXPECT_EQ(ReadBytes(existingFile), "keep");
    EXPECT_TRUE(fs::is_directory(folder.path / "dir.dvk"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(folder.Entries(), 5u);
}
