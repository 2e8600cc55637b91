#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <map>
#include <memory>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "core/ProcessStart.h"
#include "files/SettingsFile.h"
#include "tests/files/RootNamespace.h"
#include "tests/files/SettingsFileSamples.h"

namespace fs = std::filesystem;

// The save's flushes and renames, recorded in order while `recording` is
// set; the flush of a folder, or setting an extended attribute, fails while
// asked to. Writes, cuts and flushes are counted: the process dies at the
// killAt-th, and the failFrom-th to the failTo-th fail. The test's own
// definitions come before the C library's.
namespace shim {
bool recording = false, failFolderSync = false, failSetAttribute = false;
std::vector<std::string> calls;
int counted = 0, killAt = 0, failFrom = 0, failTo = 0;

bool Fails()
{
    if (++counted == killAt)
        ::raise(SIGKILL);
    return counted >= failFrom && counted <= failTo;
}
}  // namespace shim

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset)
{
    if (shim::Fails())
        return errno = EIO, -1;
    using Next = ssize_t (*)(int, const void*, size_t, off_t);
    return reinterpret_cast<Next>(::dlsym(RTLD_NEXT, "pwrite"))(fd, buffer, size, offset);
}

extern "C" int ftruncate(int fd, off_t length) noexcept
{
    if (shim::Fails())
        return errno = EIO, -1;
    return reinterpret_cast<int (*)(int, off_t)>(::dlsym(RTLD_NEXT, "ftruncate"))(fd, length);
}

extern "C" int fsync(int fd)
{
    if (shim::Fails())
        return errno = EIO, -1;
    if (shim::recording)
        shim::calls.push_back("fsync " + fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string());
    struct stat status;
    if (shim::failFolderSync && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode))
        return errno = EIO, -1;
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"))(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept
{
    if (shim::recording)
        shim::calls.push_back(std::string("rename ") + from + " " + to);
    return reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"))(from, to);
}

extern "C" int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) noexcept
{
    using Next = int (*)(int, const char*, const void*, size_t, int);
    if (shim::failSetAttribute)
        return errno = EPERM, -1;
    return reinterpret_cast<Next>(::dlsym(RTLD_NEXT, "fsetxattr"))(fd, name, value, size, flags);
}

namespace {

// What ApplySettingsTree handed over, by setting.
using Applied = std::map<dvk::SettingIndex, std::string>;

struct ReadResult {
    bool ok;
    Applied applied;
    dvk::FileResult read;
};

ReadResult ReadText(const std::string& text)
{
    std::istringstream in(text);
    ReadResult result{false, {}, {}};
    result.read = dvk::ReadSettingsFile(
        in, [&result](dvk::SettingIndex setting, const std::string& word) { result.applied[setting] = word; });
    result.ok = static_cast<bool>(result.read);
    return result;
}

// Expects a failure of that kind, for that setting where one is at fault.
void ExpectFailure(const dvk::FileResult& result, dvk::FileFailure failure,
                   dvk::SettingIndex setting = dvk::SettingCount)
{
    EXPECT_EQ(result.failure, failure);
    EXPECT_EQ(result.setting, setting);
}

std::string Attribute(const fs::path& path, const char* name)
{
    std::string value(256, '\0');
    const ssize_t size = ::getxattr(path.c_str(), name, value.data(), value.size());
    value.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
    return size < 0 ? "(none)" : value;
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

// The inode flags (lsattr) of a file or folder, after adding and removing
// those given; -1 when they cannot be read or set.
int Flags(const fs::path& path, int add = 0, int remove = 0)
{
    int flags = -1;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (add | remove) != 0) {
        flags = (flags | add) & ~remove;
        flags = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 ? flags : -1;
    }
    ::close(fd);
    return flags;
}

// Runs child in a forked process: how it ended, "exit N" or "signal N".
std::string InChild(const std::function<bool()>& child)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(child() ? 0 : 1);
    int status = -1;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                               : "exit " + std::to_string(WEXITSTATUS(status));
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
        samples::WithLineEnds(samples::kExampleFile, "\n"),  // LF alone
        samples::IndentedWithSpaces(samples::kExampleFile),
        "\xEF\xBB\xBF" + samples::kExampleFile,  // a byte-order mark
        // Another root name and version.
        samples::Replace(samples::Replace(samples::kExampleFile, "Dravik_38417", "Other"), "version=\"100\"",
                         "version=\"7\""),
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
    ReadResult result =
        ReadText("<Dravik_38417 version=\"100\"><Stamp current=\"1\" timeout=\"2\" delay=\"3\"/></Dravik_38417>");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.applied, (Applied{{dvk::StampCurrent, "1"}, {dvk::StampTimeout, "2"}, {dvk::StampDelay, "3"}}));

    // Two words: the first; unvalidated words go through as they are; the later
    // of two elements wins.
    result = ReadText("<r><PaperSensor sensitivity=\" 12 34\" activate=\"abc\"/>"
                      "<PaperSensor sensitivity=\"99999\" activate=\"5\"/></r>");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.applied, (Applied{{dvk::PaperSensitivity, "99999"}, {dvk::PaperActivateTime, "5"}}));
    result = ReadText("<r><PaperSensor sensitivity=\" 12 34\" activate=\"abc\"/></r>");
    EXPECT_EQ(result.applied, (Applied{{dvk::PaperSensitivity, "12"}, {dvk::PaperActivateTime, "abc"}}));
}

TEST(SettingsFileRead, FaultsStopTheWalk)
{
    // An unknown element after Stamp: Stamp applied, nothing after Foo.
    ReadResult result =
        ReadText(samples::Replace(samples::kExampleFile, "\t<StampReturn", "\t<Foo/>\r\n\t<StampReturn"));
    ExpectFailure(result.read, dvk::FileFailure::NotSettings);
    EXPECT_EQ(result.applied,
              (Applied{{dvk::StampCurrent, "120"}, {dvk::StampTimeout, "500"}, {dvk::StampDelay, "40"}}));

    // Stamp lacks delay: its other values applied, nothing after it.
    result =
        ReadText(samples::Replace(samples::kExampleFile, " delay=\"40\"/>\r\n\t<StampReturn", "/>\r\n\t<StampReturn"));
    ExpectFailure(result.read, dvk::FileFailure::MissingValue, dvk::StampDelay);
    EXPECT_EQ(result.applied, (Applied{{dvk::StampCurrent, "120"}, {dvk::StampTimeout, "500"}}));

    // An empty value counts as missing; the element's later values still apply.
    result = ReadText(
        "<r><Replace current=\"\" timeout=\"9\" delay=\"8\"/><PaperSensor sensitivity=\"1\" activate=\"2\"/></r>");
    ExpectFailure(result.read, dvk::FileFailure::MissingValue, dvk::ReplaceCurrent);
    EXPECT_EQ(result.applied, (Applied{{dvk::ReplaceTimeout, "9"}, {dvk::ReplaceDelay, "8"}}));

    // A tree the reader rejects applies nothing, even its complete children.
    const std::string invalid[] = {
        "",
        "<?xml version=\"1.0\"?>\r\n" + samples::kExampleFile,
        " " + samples::kExampleFile,
        samples::Replace(samples::kExampleFile, "\"60\"", "\"6/0\""),
        samples::Replace(samples::kExampleFile, "</Dravik_38417>", "</Dravik>"),
        samples::kExampleFile.substr(0, 200),                // cut short
        "\xEF\xBB\xBF\xEF\xBB\xBF" + samples::kExampleFile,  // only one byte-order mark is skipped
        "\xEF\xBB" + samples::kExampleFile,
    };
    for (const std::string& text : invalid) {
        SCOPED_TRACE(text);
        result = ReadText(text);
        ExpectFailure(result.read, dvk::FileFailure::NotSettings);
        EXPECT_TRUE(result.applied.empty());
    }
}

TEST(SettingsFileRead, ValuesThatAreNotTextAreBad)
{
    // Not UTF-8 (Latin-1, overlong, a surrogate, beyond U+10FFFF, cut short)
    // or holding a NUL: the element's other values apply, nothing after it.
    const std::string bad[] = {"12\xE9",       std::string("12\0 0", 5), "\xC0\xB1",
                               "\xED\xA0\x80", "\xF4\x90\x80\x80",       "1\xE2\x82"};
    for (const std::string& value : bad) {
        SCOPED_TRACE(testing::PrintToString(value));
        const ReadResult result = ReadText("<r><Replace current=\"" + value +
                                           "\" timeout=\"9\" delay=\"8\"/>"
                                           "<PaperSensor sensitivity=\"1\" activate=\"2\"/></r>");
        ExpectFailure(result.read, dvk::FileFailure::NotUtf8, dvk::ReplaceCurrent);
        EXPECT_EQ(result.applied, (Applied{{dvk::ReplaceTimeout, "9"}, {dvk::ReplaceDelay, "8"}}));
    }
    // Text beyond ASCII is text (validation rejects it later).
    const ReadResult result =
        ReadText("<r><PaperSensor sensitivity=\"\xE2\x82\xAC\xF0\x9F\x98\x80\" activate=\"2\"/></r>");
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
    using dvk::FileFailure;
    const std::pair<fs::path, FileFailure> cases[] = {{file, FileFailure::TooLarge},
                                                      {folder.path, FileFailure::Folder},
                                                      {"/dev/zero", FileFailure::NotRegular},
                                                      {folder.path / "missing.dvk", FileFailure::Missing}};
    for (const auto& [path, failure] : cases) {
        SCOPED_TRACE(path);
        ExpectFailure(dvk::ReadSettingsFileAt(path.string(), apply), failure);
        EXPECT_TRUE(applied.empty());
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
    EXPECT_EQ(folder.Entries(), 1u);          // no temporary file left

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
    using dvk::FileFailure;
    const std::pair<fs::path, FileFailure> cases[] = {{folder.path / "missing" / "a.dvk", FileFailure::System},
                                                      {folder.path / "dir.dvk", FileFailure::Folder},
                                                      {existingFile / "a.dvk", FileFailure::System},
                                                      {folder.path / "dangling.dvk", FileFailure::System},
                                                      {folder.path / "loop.dvk", FileFailure::System},
                                                      {folder.path / "device.dvk", FileFailure::NotRegular}};
    for (const auto& [path, failure] : cases)
        EXPECT_EQ(dvk::WriteFileAtomically(path.string(), "x").failure, failure) << path;
    EXPECT_EQ(ReadBytes(existingFile), "keep");
    EXPECT_TRUE(fs::is_directory(folder.path / "dir.dvk"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(folder.Entries(), 5u);
}

TEST(AtomicWrite, FlushesTheFileBeforeTheRenameAndTheFolderAfter)
{
    // After a power loss the file holds the new contents or the old, never
    // an empty file. A folder that cannot be flushed afterwards does not
    // undo the save.
    Folder folder;
    const fs::path file = folder.path / "settings.dvk";
    WriteFile(file, "old");
    shim::calls.clear();
    shim::recording = shim::failFolderSync = true;
    const dvk::FileResult saved = dvk::WriteFileAtomically(file.string(), "new");
    shim::recording = shim::failFolderSync = false;
    EXPECT_TRUE(saved);
    EXPECT_EQ(ReadBytes(file), "new");
    ASSERT_FALSE(shim::calls.empty());
    const std::string temporary = shim::calls[0].substr(shim::calls[0].find(' ') + 1);
    EXPECT_EQ(shim::calls,
              (std::vector<std::string>{"fsync " + temporary, "rename " + temporary + " " + file.string(),
                                        "fsync " + folder.path.string()}));
}

TEST(AtomicWrite, AFailedRenameIsAFailure)
{
    // A file with another mounted over it cannot be renamed over.
    Folder folder;
    const fs::path file = folder.path / "settings.dvk";
    WriteFile(file, "old");
    WriteFile(folder.path / "other", "mounted");
    ASSERT_EQ(::mount((folder.path / "other").c_str(), file.c_str(), nullptr, MS_BIND, nullptr), 0)
        << std::strerror(errno) << " (" << rootns::kRootNote << ")";
    const dvk::FileResult saved = dvk::WriteFileAtomically(file.string(), "new");
    EXPECT_EQ(ReadBytes(file), "mounted");
    ::umount2(file.c_str(), MNT_DETACH);
    EXPECT_EQ(saved.failure, dvk::FileFailure::System);
    EXPECT_EQ(saved.error, std::errc::device_or_resource_busy);
    EXPECT_EQ(ReadBytes(file), "old");
    EXPECT_EQ(folder.Entries(), 2u);
}

TEST(AtomicWrite, KeepsExtendedAttributesAndTheAccessControlList)
{
    Folder folder;
    const fs::path file = folder.path / "settings.dvk";
    WriteFile(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    // user::rw- user:<this user>:rw- group::r-- mask::rw- other::--- (on a
    // little-endian machine); the mask shows as the group's mode bits.
    const posix_acl_xattr_header header{POSIX_ACL_XATTR_VERSION};
    std::string acl(reinterpret_cast<const char*>(&header), sizeof header);
    constexpr std::uint16_t rw = ACL_READ | ACL_WRITE;
    for (const posix_acl_xattr_entry entry : {posix_acl_xattr_entry{ACL_USER_OBJ, rw, ~0u},
                                              {ACL_USER, rw, ::geteuid()},
                                              {ACL_GROUP_OBJ, ACL_READ, ~0u},
                                              {ACL_MASK, rw, ~0u},
                                              {ACL_OTHER, 0, ~0u}})
        acl.append(reinterpret_cast<const char*>(&entry), sizeof entry);
    for (const auto& [name, value] :
         {std::pair<const char*, std::string>{"user.note", "press 3"}, {"system.posix_acl_access", acl}}) {
        if (::setxattr(file.c_str(), name, value.data(), value.size(), 0) == 0)
            continue;
        if (errno == ENOTSUP)
            GTEST_SKIP() << "the file system of " << folder.path << " does not support " << name;
        FAIL() << "cannot set " << name << ": " << std::strerror(errno);
    }
    constexpr int kFlags = FS_NODUMP_FL | FS_NOATIME_FL;
    if (Flags(file, kFlags) < 0)
        GTEST_SKIP() << "cannot set the inode flags of " << file << ": " << std::strerror(errno);
    // Replaced, then written in place when an attribute cannot be set.
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "replaced");
        struct stat before, after;
        ASSERT_EQ(::stat(file.c_str(), &before), 0);
        shim::failSetAttribute = inPlace;
        const dvk::FileResult saved = dvk::WriteFileAtomically(file.string(), inPlace ? "newer" : "new");
        shim::failSetAttribute = false;
        ASSERT_TRUE(saved);
        EXPECT_EQ(ReadBytes(file), inPlace ? "newer" : "new");
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino == before.st_ino, inPlace);
        EXPECT_EQ(after.st_mode & 07777, 0660u);
        EXPECT_EQ(Attribute(file, "user.note"), "press 3");
        EXPECT_EQ(Attribute(file, "system.posix_acl_access"), acl);
        EXPECT_EQ(Flags(file) & kFlags, kFlags);
    }
    EXPECT_EQ(folder.Entries(), 1u);
}

TEST(AtomicWrite, AWriteInPlaceThatFailsOrIsKilledLeavesTheOldBytesOrTheNew)
{
    // A file with another hard link is written in place, its old bytes kept
    // first in a backup beside it; in an append-only folder, which must not
    // collect temporary files, in the data folder.
    Folder folder, data;
    ::setenv("XDG_DATA_HOME", data.path.c_str(), 1);
    const fs::path file = folder.path / "settings.dvk", link = folder.path / "link.dvk";
    const fs::path backups[] = {folder.path / "settings.dvk.backup", data.path / "dravik" / "settings.dvk.backup"};
    const std::string old = samples::kExampleFile, newer(100, 'n');
    WriteFile(file, old);
    fs::create_hard_link(file, link);

    // Set up as the programs are, a process gets a write error, not SIGXFSZ,
    // and a closed standard descriptor is not given to the next file opened.
    const std::string limited = InChild([&] {
        ::signal(SIGXFSZ, SIG_DFL);
        ::close(1);
        dvk::PrepareProcess();
        const rlimit limit{50, 50};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return dvk::WriteFileAtomically(file.string(), newer).error == std::errc::file_too_large &&
            ::open(file.c_str(), O_RDONLY) > 2;
    });
    EXPECT_EQ(limited, "exit 0");
    // The file's cut fails (the 5th call), and the old bytes are put back; its
    // write and putting them back fail, which leaves it as it was all the same;
    // its cut and putting them back, which leaves it damaged and its backup.
    using dvk::FileFailure;
    for (const auto& [from, to, failure] :
         {std::tuple{5, 5, FileFailure::System}, {4, 5, FileFailure::System}, {5, 6, FileFailure::Damaged}}) {
        shim::counted = 0, shim::failFrom = from, shim::failTo = to;
        const dvk::FileResult saved = dvk::WriteFileAtomically(file.string(), newer);
        shim::failTo = 0;
        EXPECT_EQ(saved.failure, failure);
        EXPECT_EQ(ReadBytes(file) == old, failure == FileFailure::System);
        EXPECT_EQ(ReadBytes(saved.backup), failure == FileFailure::Damaged ? old : "");
        fs::remove(saved.backup);
    }
    EXPECT_EQ(folder.Entries(), 2u);

    // Killed at each call that writes, cuts or flushes (the backup's write and
    // flush, its folder's flush, the file's write, cut and flush), then not.
    const std::shared_ptr<void> appendable(nullptr, [&folder](void*) { Flags(folder.path, 0, FS_APPEND_FL); });
    for (const bool appendOnly : {false, true}) {
        if (appendOnly && (!fs::remove(link) || Flags(folder.path, FS_APPEND_FL) < 0))
            GTEST_SKIP() << "cannot make " << folder.path << " append-only: " << std::strerror(errno);
        for (int call = 1; call <= 7; ++call) {
            SCOPED_TRACE(call);
            WriteFile(file, old);
            const std::string ended = InChild([&] {
                shim::counted = 0, shim::killAt = call;
                return static_cast<bool>(dvk::WriteFileAtomically(file.string(), newer));
            });
            const std::string now = ReadBytes(file), backup = ReadBytes(backups[0]) + ReadBytes(backups[1]);
            EXPECT_EQ(ended, call < 7 ? "signal 9" : "exit 0");
            EXPECT_TRUE(call < 7 ? now == old || now == newer || backup == old : now == newer && backup.empty());
            fs::remove(backups[appendOnly]);
        }
        EXPECT_EQ(folder.Entries(), appendOnly ? 1u : 2u);
    }
    ASSERT_TRUE(dvk::WriteFileAtomically((folder.path / "new.dvk").string(), newer));
    EXPECT_EQ(folder.Entries(), 2u);
}
