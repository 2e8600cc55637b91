// The example settings and the file the program writes for them, and file
// helpers, shared by the settings-file tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/Settings.h"

namespace samples {

inline const dvk::SettingTexts kExampleTexts = {L"120", L"500", L"40",  L"100", L"500", L"40",
                                                L"150", L"900", L"100", L"60",  L"250"};

inline const std::string kExampleFile = "<Dravik_38417 version=\"100\">\r\n"
                                        "\t<Stamp current=\"120\" timeout=\"500\" delay=\"40\"/>\r\n"
                                        "\t<StampReturn current=\"100\" timeout=\"500\" delay=\"40\"/>\r\n"
                                        "\t<Replace current=\"150\" timeout=\"900\" delay=\"100\"/>\r\n"
                                        "\t<PaperSensor sensitivity=\"60\" activate=\"250\"/>\r\n"
                                        "</Dravik_38417>\r\n"
                                        "\r\n";

// text with every occurrence of from replaced by to.
inline std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

inline std::string WithLineEnds(const std::string& text, const std::string& lineEnd)
{
    return Replace(text, "\r\n", lineEnd);
}

inline std::string IndentedWithSpaces(const std::string& text)
{
    return Replace(text, "\t", "    ");
}

inline std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// True when all bytes reached the file.
inline bool WriteBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush());
}

}  // namespace samples
