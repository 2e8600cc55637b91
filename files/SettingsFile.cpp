#include "files/SettingsFile.h"

#include "core/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
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
#include <sys/xattr.h>
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

// The system's error code (errno, or GetLastError on Windows).
FileResult SystemFailure(int error)
{
    return FileResult{FileFailure::System, std::error_code(error, std::system_category()), SettingCount};
}

// Everything readSome(buffer, size, error) delivers up to its end (0) into
// bytes. TooLarge when that is more than maxBytes (a file that grew after
// its size was checked); System when readSome fails (-1, setting error).
template <typename ReadSome>
FileResult ReadAtMost(std::size_t maxBytes, std::string& bytes, ReadSome readSome)
{
    bytes.clear();
    char chunk[16384];
    for (;;) {
        int error = 0;
        const long got = readSome(chunk, sizeof chunk, error);
        if (got < 0)
            return SystemFailure(error);
        if (got == 0)
            return {};
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes)
            return Failed(FileFailure::TooLarge);
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace

#ifdef _WIN32

namespace {

// Owns a file handle.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    HANDLE Get() const { return handle; }
    bool Close()
    {
        const HANDLE closing = handle;
        handle = INVALID_HANDLE_VALUE;
        return CloseHandle(closing);
    }

private:
    HANDLE handle;
};

FileResult LastError()
{
    return SystemFailure(static_cast<int>(GetLastError()));
}

// The bytes of a file on a disk of at most maxBytes.
FileResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes)
{
    const std::filesystem::path file = std::filesystem::u8path(path);
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Failed(FileFailure::Missing);
        return SystemFailure(static_cast<int>(error));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Failed(FileFailure::Folder);
    Handle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle.Get() == INVALID_HANDLE_VALUE)
        return LastError();
    if (GetFileType(handle.Get()) != FILE_TYPE_DISK)
        return Failed(FileFailure::NotRegular);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle.Get(), &size))
        return LastError();
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return Failed(FileFailure::TooLarge);
    return ReadAtMost(maxBytes, bytes, [&handle](char* buffer, std::size_t room, int& error) -> long {
        DWORD got = 0;
        if (ReadFile(handle.Get(), buffer, static_cast<DWORD>(room), &got, nullptr))
            return static_cast<long>(got);
        error = static_cast<int>(GetLastError());
        return -1;
    });
}

}  // namespace

FileResult WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    const std::filesystem::path target = std::filesystem::u8path(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return LastError();
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Failed(FileFailure::Folder);
    if (exists && (attributes & FILE_ATTRIBUTE_DEVICE))
        return Failed(FileFailure::NotRegular);
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY))
        return Failed(FileFailure::ReadOnly);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = L".";
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path temporary =
            folder / std::filesystem::u8path(TemporaryName(target.filename().u8string()));
        Handle file(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Get() == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return LastError();
        }
        bool ok = true;
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            ok = WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) && written > 0;
            done += written;
        }
        ok = ok && FlushFileBuffers(file.Get());
        ok = file.Close() && ok;
        // A hidden or system file stays one. The system's replace keeps the
        // old file's attributes, its access control list and its streams;
        // the attributes are given to the new file beforehand as well, for
        // where the replace is only a rename.
        constexpr DWORD kKept =
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if (ok && exists && (attributes & kKept))
            ok = SetFileAttributesW(temporary.c_str(), attributes & kKept);
        if (ok &&
            (exists ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr)
                    : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)))
            return {};
        const DWORD error = GetLastError();
        if (ok && (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)) {
            // The old file was moved away but the new one could not take
            // its place: it is moved there now, or is kept, holding the
            // settings, while the old file may be gone.
            if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return {};
            return FileResult{FileFailure::Damaged, std::error_code(static_cast<int>(error), std::system_category()),
                              SettingCount};
        }
        DeleteFileW(temporary.c_str());
        return SystemFailure(static_cast<int>(error));
    }
    return SystemFailure(ERROR_FILE_EXISTS);
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

// A folder or anything else that is not a regular file fails.
FileResult TypeOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return Failed(FileFailure::Folder);
    if (!S_ISREG(mode))
        return Failed(FileFailure::NotRegular);
    return {};
}

// Reads from the descriptor's position on.
auto ReadFrom(int fd)
{
    return [fd](char* buffer, std::size_t room, int& error) -> long {
        for (;;) {
            const ssize_t got = ::read(fd, buffer, room);
            if (got >= 0)
                return static_cast<long>(got);
            if (errno != EINTR) {
                error = errno;
                return -1;
            }
        }
    };
}

FileResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes)
{
    // Devices are not even opened; the check after opening covers a file
    // swapped in between. A pipe opened without blocking needs no writer.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return errno == ENOENT ? Failed(FileFailure::Missing) : SystemFailure(errno);
    if (FileResult type = TypeOf(status.st_mode); !type)
        return type;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0)
        return SystemFailure(errno);
    if (FileResult type = TypeOf(status.st_mode); !type)
        return type;
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes)
        return Failed(FileFailure::TooLarge);
    return ReadAtMost(maxBytes, bytes, ReadFrom(file.Get()));
}

// Writes all bytes from the file's start; false with errno set when it
// cannot.
bool WriteAllAt(int fd, std::string_view bytes)
{
    off_t offset = 0;
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
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

// Overwrites the file from its start, without emptying it first, then cuts
// it to the new length, so that a new file no longer than the old one needs
// no room that the old one did not hold. The old contents, kept in memory,
// are put back when anything fails.
FileResult WriteInPlace(const std::string& target, std::string_view bytes)
{
    Descriptor file(::open(target.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0)
        return SystemFailure(errno);
    if (FileResult type = TypeOf(status.st_mode); !type)
        return type;
    if (static_cast<std::uintmax_t>(status.st_size) > kMaxSettingsFileBytes)
        return Failed(FileFailure::TooLarge);
    std::string old;
    if (FileResult read = ReadAtMost(kMaxSettingsFileBytes, old, ReadFrom(file.Get())); !read)
        return read;

    const auto write = [&file](std::string_view contents) {
        return WriteAllAt(file.Get(), contents) && ::ftruncate(file.Get(), static_cast<off_t>(contents.size())) == 0 &&
            ::fsync(file.Get()) == 0;
    };
    if (write(bytes))
        return {};
    const std::error_code error(errno, std::system_category());
    if (!write(old))
        return FileResult{FileFailure::Damaged, error, SettingCount};
    return FileResult{FileFailure::System, error, SettingCount};
}

// The extended attributes of a file by name, read with the system's
// list(buffer, size) and get(name, buffer, size); none where the file
// system has none. Nothing when they cannot be read.
template <typename List, typename Get>
std::optional<std::map<std::string, std::string>> ReadAttributes(List list, Get get)
{
    // Each list or value is asked for its size first; one that grew in
    // between is asked for again.
    const auto fetch = [](std::string& into, auto call) {
        for (;;) {
            const ssize_t size = call(nullptr, 0);
            if (size < 0)
                return false;
            into.resize(static_cast<std::size_t>(size));
            const ssize_t got = call(into.data(), into.size());
            if (got >= 0 && got <= size) {
                into.resize(static_cast<std::size_t>(got));
                return true;
            }
            if (errno != ERANGE)
                return false;
        }
    };
    std::map<std::string, std::string> attributes;
    std::string names;
    if (!fetch(names, list))
        return errno == ENOTSUP ? std::make_optional(attributes) : std::nullopt;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        std::string value;
        if (fetch(value, [&](char* buffer, std::size_t size) { return get(name.c_str(), buffer, size); }))
            attributes[name] = value;
        else if (errno != ENODATA)
            return std::nullopt;
    }
    return attributes;
}

// Gives the open file `to` the extended attributes of the file at `from`,
// its access control list among them, and only those. False when they
// cannot be read or set.
bool CopyAttributes(const std::string& from, int to)
{
    const auto source =
        ReadAttributes([&from](char* buffer, std::size_t size) { return ::llistxattr(from.c_str(), buffer, size); },
                       [&from](const char* name, char* buffer, std::size_t size) {
                           return ::lgetxattr(from.c_str(), name, buffer, size);
                       });
    const auto present = ReadAttributes(
        [to](char* buffer, std::size_t size) { return ::flistxattr(to, buffer, size); },
        [to](const char* name, char* buffer, std::size_t size) { return ::fgetxattr(to, name, buffer, size); });
    if (!source || !present)
        return false;
    // The new file may have been given some (a folder's default access
    // control list); those the old file lacks go, those it has are set
    // unless they are the same already (a security label).
    for (const auto& [name, value] : *present) {
        if (source->count(name) == 0 && ::fremovexattr(to, name.c_str()) != 0)
            return false;
    }
    for (const auto& [name, value] : *source) {
        const auto same = present->find(name);
        if ((same == present->end() || same->second != value) &&
            ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// The rename is durable only once the folder's entry has reached the disk.
// The save has happened already: a folder that cannot be flushed (or
// opened) changes nothing the user could act on.
void SyncFolder(const std::string& folder)
{
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0)
        ::fsync(directory.Get());
}

// The temporary file beside the target, renamed over it. Nothing, having
// changed nothing, when the folder or the existing file does not allow that
// and the file is to be written in place instead.
std::optional<FileResult> WriteBeside(const std::string& target, const std::string& folder, const struct stat* existing,
                                      std::string_view bytes)
{
    const std::string name = std::filesystem::path(target).filename().string();
    int fd = -1;
    std::string temporaryPath;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temporaryPath = folder + "/" + TemporaryName(name);
        fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            if (existing && NotPermitted(errno))
                return std::nullopt;
            return SystemFailure(errno);
        }
    }
    if (fd < 0)
        return SystemFailure(EEXIST);
    Descriptor file(fd);
    TemporaryFile temporary(temporaryPath);

    // An existing file keeps its owner and group, then its extended
    // attributes (set by the new owner), then its mode (changing the owner
    // clears the set-id bits; the mode sets the access control list's mask,
    // which it holds already).
    if (existing) {
        if (::fchown(file.Get(), existing->st_uid, existing->st_gid) != 0)
            return NotPermitted(errno) ? std::nullopt : std::make_optional(SystemFailure(errno));
        if (!CopyAttributes(target, file.Get()))
            return std::nullopt;
        if (::fchmod(file.Get(), existing->st_mode & 07777) != 0)
            return SystemFailure(errno);
    }
    if (!WriteAllAt(file.Get(), bytes) || ::fsync(file.Get()) != 0 || !file.Close())
        return SystemFailure(errno);
    if (::rename(temporary.Name().c_str(), target.c_str()) != 0)
        return existing && NotPermitted(errno) ? std::nullopt : std::make_optional(SystemFailure(errno));
    temporary.Release();
    SyncFolder(folder);
    return FileResult{};
}

}  // namespace

FileResult WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    // A link is saved at the file it names, so that it stays a link; a
    // dangling or looping link is refused.
    std::string target = path;
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved))
            return SystemFailure(errno);
        target = resolved;
    }

    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (!exists && errno != ENOENT)
        return SystemFailure(errno);
    if (exists) {
        if (FileResult type = TypeOf(status.st_mode); !type)
            return type;
        if (!IsWritable(target, status))
            return Failed(FileFailure::ReadOnly);
    }

    std::string folder = std::filesystem::path(target).parent_path().string();
    if (folder.empty())
        folder = ".";
    // Replacing a file with other hard links would split it from them.
    if (exists && status.st_nlink > 1)
        return WriteInPlace(target, bytes);
    if (std::optional<FileResult> beside = WriteBeside(target, folder, exists ? &status : nullptr, bytes))
        return *beside;
    return WriteInPlace(target, bytes);
}

#endif

FileResult ReadSettingsFileAt(const std::string& path, const ApplySetting& apply, Expect expect)
{
    std::string bytes;
    if (FileResult read = ReadRegularFile(path, kMaxSettingsFileBytes, bytes); !read)
        return read;
    std::istringstream in(bytes);
    return ReadSettingsFile(in, apply, expect);
}

}  // namespace dvk
