// Reading and replacing files on Windows: the wide-character file API, with
// the system's own replacement, which keeps the old file's attributes,
// access control list and streams.
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "files/SafeFileCommon.h"

namespace dvk {

using namespace safe_file;

namespace {

// Owns a file handle.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle(handle) { }
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

}  // namespace

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

}  // namespace dvk
