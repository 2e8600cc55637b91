#include "SettingsFile.h"

#include "Utf8.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
bool GetTextWord(const XML_Tag& element, const std::string& name, std::string& word)
{
    for (const XML_Attrib& attribute : element.attributes) {
        if (attribute.name != name)
            continue;
        if (attribute.value.find('\0') != std::string::npos || !IsValidUtf8(attribute.value))
            return false;
        break;
    }
    return element.GetAttributeData(name, word);
}

}  // namespace

bool ApplySettingsTree(const XML_Tag& root, const ApplySetting& apply)
{
    if (!root.valid)
        return false;
    for (const XML_Tag& element : root.children) {
        bool known = false;
        bool complete = true;
        for (int i = 0; i < SettingCount; ++i) {
            if (!element.IsTag(kSettings[i].fileElement))
                continue;
            known = true;
            std::string word;
            if (GetTextWord(element, kSettings[i].fileAttribute, word))
                apply(static_cast<SettingIndex>(i), word);
            else
                complete = false;
        }
        if (!known || !complete)
            return false;
    }
    return true;
}

bool ReadSettingsFile(std::istream& in, const ApplySetting& apply)
{
    XML_Tag root;
    in >> root;
    return ApplySettingsTree(root, apply);
}

namespace {

// Six characters that make the temporary file's name unlikely to exist.
std::string RandomSuffix()
{
    static std::mt19937 generator{std::random_device{}()};
    static constexpr char kCharacters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string suffix;
    for (int i = 0; i < 6; ++i)
        suffix += kCharacters[generator() % (sizeof kCharacters - 1)];
    return suffix;
}

// ".<name>.dvk-save-XXXXXX" for the target's file name (UTF-8), which a
// person finding it after a crash can tell apart; a very long name is cut,
// at a character boundary, so that the whole stays within 255 bytes.
std::string TemporaryName(std::string name)
{
    constexpr std::size_t kMaxName = 255 - std::string_view(".").size() -
                                     std::string_view(".dvk-save-").size() - 6;
    if (name.size() > kMaxName) {
        std::size_t cut = kMaxName;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return "." + name + ".dvk-save-" + RandomSuffix();
}

constexpr int kNameAttempts = 100;

// Everything readSome(buffer, size) delivers up to its end (0), or nothing
// when that is more than maxBytes (a file that grew after its size was
// checked) or readSome fails (-1).
template <typename ReadSome>
std::optional<std::string> ReadAtMost(std::size_t maxBytes, ReadSome readSome)
{
    std::string bytes;
    char chunk[16384];
    for (;;) {
        const long got = readSome(chunk, sizeof chunk);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return bytes;
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes)
            return std::nullopt;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

#ifdef _WIN32

namespace {

// The file's bytes if it is a file on a disk of at most maxBytes.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes)
{
    HANDLE file = CreateFileW(std::filesystem::u8path(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<std::string> bytes;
    LARGE_INTEGER size;
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
        static_cast<unsigned long long>(size.QuadPart) <= maxBytes)
        bytes = ReadAtMost(maxBytes, [file](char* buffer, std::size_t room) -> long {
            DWORD got = 0;
            return ReadFile(file, buffer, static_cast<DWORD>(room), &got, nullptr) ? static_cast<long>(got) : -1;
        });
    CloseHandle(file);
    return bytes;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    const std::filesystem::path target = std::filesystem::u8path(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return false;
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = L".";
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path temporary =
            folder / std::filesystem::u8path(TemporaryName(target.filename().u8string()));
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        bool ok = true;
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0;
            done += written;
        }
        ok = ok && FlushFileBuffers(file);
        ok = CloseHandle(file) && ok;
        ok = ok && MoveFileExW(temporary.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!ok)
            DeleteFileW(temporary.c_str());
        return ok;
    }
    return false;
}

#else

namespace {

// Owns a descriptor.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int Get() const { return fd; }
    bool Close()
    {
        const int closing = fd;
        fd = -1;
        return ::close(closing) == 0;
    }

private:
    int fd;
};

// Removes the temporary file unless released.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : name(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!name.empty())
            ::unlink(name.c_str());
    }
    const std::string& Name() const { return name; }
    void Release() { name.clear(); }

private:
    std::string name;
};

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes)
{
    // Devices are not even opened; the check after opening covers a file
    // swapped in between. A pipe opened without blocking needs no writer.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uintmax_t>(status.st_size) > maxBytes)
        return std::nullopt;
    return ReadAtMost(maxBytes, [&file](char* buffer, std::size_t room) -> long {
        for (;;) {
            const ssize_t got = ::read(file.Get(), buffer, room);
            if (got >= 0 || errno != EINTR)
                return static_cast<long>(got);
        }
    });
}

bool WriteAllAt(int fd, std::string_view bytes)
{
    off_t offset = 0;
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return true;
}

bool NotPermitted(int error)
{
    return error == EACCES || error == EPERM;
}

// False for a file that nobody may write (root included) or that this
// process may not.
bool IsWritable(const std::string& path, const struct stat& status)
{
    return (status.st_mode & 0222) != 0 && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Overwrites the file from its start, then cuts it to the new length, so
// that a new file no longer than the old one needs no space that the old
// one did not hold.
bool WriteInPlace(const std::string& target, std::string_view bytes)
{
    Descriptor file(::open(target.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666));
    struct stat status;
    return file.Get() >= 0 && ::fstat(file.Get(), &status) == 0 && S_ISREG(status.st_mode) &&
           WriteAllAt(file.Get(), bytes) && ::ftruncate(file.Get(), static_cast<off_t>(bytes.size())) == 0 &&
           ::fsync(file.Get()) == 0 && file.Close();
}

// The rename is durable only once the folder's entry has reached the disk.
// A folder that cannot be opened for reading cannot be flushed either.
bool SyncFolder(const std::string& folder)
{
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0)
        return errno == EACCES;
    return ::fsync(directory.Get()) == 0 || errno == EINVAL;
}

enum class Outcome { Saved, NotPermitted, Failed };

// The temporary file beside the target, renamed over it.
Outcome WriteBeside(const std::string& target, const std::string& folder, const struct stat* existing,
                    std::string_view bytes)
{
    const std::string name = std::filesystem::path(target).filename().string();
    int fd = -1;
    std::string temporaryPath;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temporaryPath = folder + "/" + TemporaryName(name);
        fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return NotPermitted(errno) ? Outcome::NotPermitted : Outcome::Failed;
    }
    if (fd < 0)
        return Outcome::Failed;
    Descriptor file(fd);
    TemporaryFile temporary(temporaryPath);

    // An existing file keeps its owner, group and mode (after the owner:
    // changing it clears the set-id bits).
    if (existing) {
        if (::fchown(file.Get(), existing->st_uid, existing->st_gid) != 0)
            return NotPermitted(errno) ? Outcome::NotPermitted : Outcome::Failed;
        if (::fchmod(file.Get(), existing->st_mode & 07777) != 0)
            return Outcome::Failed;
    }
    if (!WriteAllAt(file.Get(), bytes) || ::fsync(file.Get()) != 0 || !file.Close())
        return Outcome::Failed;
    if (::rename(temporary.Name().c_str(), target.c_str()) != 0)
        return NotPermitted(errno) ? Outcome::NotPermitted : Outcome::Failed;
    temporary.Release();
    return SyncFolder(folder) ? Outcome::Saved : Outcome::Failed;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    // A link is saved at the file it names, so that it stays a link; a
    // dangling or looping link is refused.
    std::string target = path;
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved))
            return false;
        target = resolved;
    }

    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists && (!S_ISREG(status.st_mode) || !IsWritable(target, status)))
        return false;

    std::string folder = std::filesystem::path(target).parent_path().string();
    if (folder.empty())
        folder = ".";
    // Replacing a file with other hard links would split it from them.
    if (exists && status.st_nlink > 1)
        return WriteInPlace(target, bytes);
    switch (WriteBeside(target, folder, exists ? &status : nullptr, bytes)) {
    case Outcome::Saved:
        return true;
    case Outcome::NotPermitted:
        return WriteInPlace(target, bytes);
    case Outcome::Failed:
        break;
    }
    return false;
}

#endif

bool ReadSettingsFileAt(const std::string& path, const ApplySetting& apply)
{
    const std::optional<std::string> bytes = ReadRegularFile(path, kMaxSettingsFileBytes);
    if (!bytes)
        return false;
    std::istringstream in(*bytes);
    return ReadSettingsFile(in, apply);
}

}  // namespace dvk
