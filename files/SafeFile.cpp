#include <random>
#include <string_view>

#include "files/SafeFileCommon.h"

namespace dvk::safe_file {

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

// The name cut, at a character boundary, to leave room for `added` bytes
// within the 255 that a name may have.
std::string Cut(std::string name, std::size_t added)
{
    const std::size_t room = 255 - added;
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return name;
}

}  // namespace

std::string TemporaryName(std::string name)
{
    const std::string suffix = ".dvk-save-" + RandomSuffix();
    return "." + Cut(std::move(name), 1 + suffix.size()) + suffix;
}

std::string BackupName(std::string name, int attempt)
{
    const std::string suffix = attempt > 1 ? ".backup-" + std::to_string(attempt) : ".backup";
    return Cut(std::move(name), suffix.size()) + suffix;
}

}  // namespace dvk::safe_file
