// Reading and replacing files on Linux: a temporary file renamed over the
// target, keeping its owner, mode, extended attributes and inode flags, or
// else a write in place over a backup of the old contents.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <map>
#include <optional>
#include <pwd.h>
#include <sys/ioctl.h>
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

// The rename is durable only once the folder's entry has reached the disk.
// The save has happened already: a folder that cannot be flushed (or
// opened) changes nothing the user could act on.
void SyncFolder(const std::string& folder)
{
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0)
        ::fsync(directory.Get());
}

// The inode flags (those that lsattr shows) of an open file; 0 where the
// file system has none.
std::optional<int> InodeFlags(int fd)
{
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0)
        return flags;
    if (errno == ENOTTY || errno == EOPNOTSUPP || errno == EINVAL)
        return 0;
    return std::nullopt;
}

// Whether what is made in the folder can be removed again: not in an
// append-only or immutable folder (chattr +a, +i).
bool FolderLetsGo(const std::string& folder)
{
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::optional<int> flags = directory.Get() >= 0 ? InodeFlags(directory.Get()) : std::optional<int>(0);
    return !flags || (*flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) == 0;
}

// Where backups go when the file's own folder does not take them: the
// user's data folder, $XDG_DATA_HOME/dravik or ~/.local/share/dravik,
// made for this user alone when it is missing.
FileResult DataFolder(std::string& folder)
{
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const struct passwd* user = nullptr;
    if (data && data[0] == '/')
        folder = data;
    else if (home && home[0] == '/')
        folder = std::string(home) + "/.local/share";
    else if ((user = ::getpwuid(::getuid())) != nullptr)
        folder = std::string(user->pw_dir) + "/.local/share";
    else
        return SystemFailure(ENOENT);
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    folder += "/dravik";
    if (made || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST))
        return SystemFailure(made ? made.value() : errno);
    return {};
}

// The old contents of a file written in place, in a file of their own
// ("NAME.backup"), flushed before the file is touched; removed unless kept.
class Backup {
public:
    Backup() = default;
    Backup(const Backup&) = delete;
    Backup& operator=(const Backup&) = delete;
    ~Backup()
    {
        if (!path.empty() && !kept)
            ::unlink(path.c_str());
    }
    FileResult Make(const std::string& folder, const std::string& name, std::string_view old, mode_t mode)
    {
        int fd = -1;
        for (int attempt = 1; attempt <= kNameAttempts && fd < 0; ++attempt) {
            path = folder + "/" + BackupName(name, attempt);
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0666);
            if (fd < 0 && errno != EEXIST) {
                path.clear();
                return SystemFailure(errno);
            }
        }
        if (fd < 0) {
            path.clear();
            return SystemFailure(EEXIST);
        }
        Descriptor file(fd);
        if (!WriteAllAt(file.Get(), old) || ::fsync(file.Get()) != 0 || !file.Close())
            return SystemFailure(errno);
        SyncFolder(folder);
        return {};
    }
    const std::string& Keep()
    {
        kept = true;
        return path;
    }

private:
    std::string path;
    bool kept = false;
};

// Whether the open file holds exactly these bytes.
bool Holds(int fd, std::string_view bytes)
{
    std::string now;
    return ::lseek(fd, 0, SEEK_SET) == 0 && ReadAtMost(kMaxSettingsFileBytes, now, ReadFrom(fd)) && now == bytes;
}

// Overwrites the file from its start, without emptying it first, then cuts
// it to the new length, so that a new file no longer than the old one needs
// no room that the old one did not hold. The old contents are first kept in
// a backup beside the file (backupBeside) or in the user's data folder, so
// that a crash or a kill at any moment leaves the old file, the new one, or
// the old contents in the backup. When the write fails they are put back
// from memory, and the backup is kept only when the file could not be made
// as it was.
FileResult WriteInPlace(const std::string& target, std::string folder, std::string_view bytes, bool backupBeside)
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

    if (FileResult found = backupBeside ? FileResult{} : DataFolder(folder); !found)
        return found;
    Backup backup;
    const std::string name = std::filesystem::path(target).filename().string();
    if (FileResult made = backup.Make(folder, name, old, status.st_mode); !made)
        return made;
    const auto write = [&file](std::string_view contents) {
        return WriteAllAt(file.Get(), contents) && ::ftruncate(file.Get(), static_cast<off_t>(contents.size())) == 0 &&
            ::fsync(file.Get()) == 0;
    };
    if (write(bytes))
        return {};
    const std::error_code error(errno, std::system_category());
    if (write(old) || Holds(file.Get(), old))
        return FileResult{FileFailure::System, error, SettingCount};
    return FileResult{FileFailure::Damaged, error, SettingCount, backup.Keep()};
}

// A new file in a folder that keeps what is made in it (append-only): the
// file itself, written and flushed; no temporary file that could not be
// removed.
FileResult WriteNew(const std::string& target, const std::string& folder, std::string_view bytes)
{
    Descriptor file(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.Get() < 0 || !WriteAllAt(file.Get(), bytes) || ::fsync(file.Get()) != 0 || !file.Close())
        return SystemFailure(errno);
    SyncFolder(folder);
    return {};
}

// Gives the new, still empty, file `to` the inode flags of the file at
// `from` that a file may be given (no dump, no access time, compression,
// synchronous writes, ...; not append-only or immutable, which would keep
// the file from being written). False when they cannot be read or set.
bool CopyInodeFlags(const std::string& from, int to)
{
    constexpr int kKept = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL | FS_NOATIME_FL |
        FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_NOCOW_FL | FS_NOCOMP_FL;
    Descriptor source(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    const std::optional<int> wanted = source.Get() >= 0 ? InodeFlags(source.Get()) : std::nullopt;
    const std::optional<int> present = InodeFlags(to);
    if (!wanted || !present)
        return false;
    int flags = (*present & ~kKept) | (*wanted & kKept);
    return flags == *present || ::ioctl(to, FS_IOC_SETFLAGS, &flags) == 0;
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
    if (existing && !CopyInodeFlags(target, file.Get()))
        return std::nullopt;

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
    // Nothing is made in a folder that would keep it (append-only): a new
    // file is written there directly, an existing one in place. Its backup
    // goes beside it where this user may make and remove files, else to the
    // user's data folder.
    const bool letsGo = FolderLetsGo(folder);
    const bool backupBeside = letsGo && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    if (!letsGo && !exists)
        return WriteNew(target, folder, bytes);
    // Replacing a file with other hard links would split it from them.
    if (!letsGo || (exists && status.st_nlink > 1))
        return WriteInPlace(target, folder, bytes, backupBeside);
    if (std::optional<FileResult> beside = WriteBeside(target, folder, exists ? &status : nullptr, bytes))
        return *beside;
    return WriteInPlace(target, folder, bytes, backupBeside);
}

}  // namespace dvk
