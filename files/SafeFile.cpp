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

}  // namespace

std::string TemporaryName(std::string name)
{
    constexpr std::size_t kMaxName = 255 - std::string_view(".").size() - std::string_view(".dvk-save-").size() - 6;
    if (name.size() > kMaxName) {
        std::size_t cut = kMaxName;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return "." + name + ".dvk-save-" + RandomSuffix();
}

}  // namespace dvk::safe_file
