#include "SettingsFile.h"

#include <algorithm>
#include <filesystem>
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
            if (element.GetAttributeData(kSettings[i].fileAttribute, word))
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

// A name for the temporary file that is unlikely to exist already.
std::string TemporaryName()
{
    static std::mt19937 generator{std::random_device{}()};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = ".dvk-save-";
    for (int i = 0; i < 12; ++i)
        name += kDigits[generator() % 16];
    return name;
}

constexpr int kNameAttempts = 100;

}  // namespace

#ifdef _WIN32

bool WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    const std::filesystem::path target = std::filesystem::u8path(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = L".";
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path temporary = folder / TemporaryName();
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

// Closes the descriptor and removes the temporary file unless released.
class TemporaryFile {
public:
    TemporaryFile(int descriptor, std::string path) : fd(descriptor), name(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!name.empty())
            ::unlink(name.c_str());
    }
    int Descriptor() const { return fd; }
    const std::string& Name() const { return name; }
    bool Close()
    {
        const int closing = fd;
        fd = -1;
        return ::close(closing) == 0;
    }
    void Release() { name.clear(); }

private:
    int fd;
    std::string name;
};

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A link is replaced at the file it points to, so that it stays a link.
std::string ResolveLink(const std::string& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    const std::string target = ResolveLink(path);
    std::string folder = std::filesystem::path(target).parent_path().string();
    if (folder.empty())
        folder = ".";

    int fd = -1;
    std::string temporaryPath;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temporaryPath = folder + "/" + TemporaryName();
        fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    TemporaryFile temporary(fd, temporaryPath);

    // An existing file keeps its permissions.
    struct stat status;
    if (::stat(target.c_str(), &status) == 0 &&
        ::fchmod(temporary.Descriptor(), status.st_mode & 07777) != 0)
        return false;

    if (!WriteAll(temporary.Descriptor(), bytes) || ::fsync(temporary.Descriptor()) != 0 ||
        !temporary.Close())
        return false;
    if (::rename(temporary.Name().c_str(), target.c_str()) != 0)
        return false;
    temporary.Release();
    return true;
}

#endif

}  // namespace dvk
