// Reading and replacing files on Linux: a temporary file renamed over the
// target, keeping its owner, mode and extended attributes, or else a write
// in place.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "files/SafeFileCommon.h"

namespace dvk {

using namespace safe_file;

namespace {

// Owns a descriptor.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : fd(descriptor) { }
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
    explicit TemporaryFile(std::string path) : name(std::move(path)) { }
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

}  // namespace

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

namespace {

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

}  // namespace dvk
