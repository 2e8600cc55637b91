// Reading and writing times of settings files: the 257-byte file the program
// writes, and hostile inputs of 1 MB and 4 MB (the second size shows whether
// the time grows linearly). Built (target bench_files) and run by tools/bench-files.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "files/SettingsFile.h"
#include "files/XML_Tag.h"

namespace {

using Clock = std::chrono::steady_clock;

// The fastest of the calls made in ~0.3 s (at least three), in microseconds:
// the least disturbed by other work on the machine.
double Time(const std::function<void()>& call)
{
    const auto end = Clock::now() + std::chrono::milliseconds(300);
    auto best = Clock::duration::max();
    for (int calls = 0; calls < 3 || Clock::now() < end; ++calls) {
        const auto start = Clock::now();
        call();
        best = std::min(best, Clock::now() - start);
    }
    return std::chrono::duration<double, std::micro>(best).count();
}

XML_Tag Read(const std::string& text)
{
    std::istringstream in(text);
    XML_Tag tag;
    in >> tag;
    return tag;
}

std::string Repeat(const std::string& piece, std::size_t bytes)
{
    std::string text;
    text.reserve(bytes + piece.size());
    while (text.size() < bytes)
        text += piece;
    return text;
}

struct Hostile {
    const char* name;
    std::function<std::string(std::size_t)> make;
};

const Hostile kHostile[] = {
    {"whitespace between attributes", [](std::size_t n) { return "<r a=\"1\"" + std::string(n, ' ') + "b=\"2\"/>"; }},
    {"text between elements", [](std::size_t n) { return "<r>" + Repeat("text > more\r\n", n) + "</r>"; }},
    {"one long name", [](std::size_t n) { return "<" + std::string(n, 'n') + "/>"; }},
    {"one long value", [](std::size_t n) { return "<r v=\"" + std::string(n, 'v') + "\"/>"; }},
    {"many attributes", [](std::size_t n) { return "<r" + Repeat(" a=\"1\"", n) + "/>"; }},
    {"many children", [](std::size_t n) { return "<r>" + Repeat("<c/>", n) + "</r>"; }},
    {"deep nesting", [](std::size_t n) { return Repeat("<a>", n); }},
    {"unclosed quote", [](std::size_t n) { return "<r v=\"" + Repeat("x y", n); }},
};

}  // namespace

int main()
{
    const dvk::SettingTexts example = {L"120", L"500", L"40",  L"100", L"500", L"40",
                                       L"150", L"900", L"100", L"60",  L"250"};
    const std::string file = dvk::FormatSettingsFile(example);
    const auto folder = std::filesystem::temp_directory_path() / "dvk-bench";
    std::filesystem::create_directories(folder);
    const auto path = folder / "example.dvk";

    std::printf("settings file (%zu bytes)\n", file.size());
    std::printf("  build tree and write to memory   %10.2f us\n",
                Time([&] { (void)dvk::FormatSettingsFile(example); }));
    std::printf("  save to disk (atomic, fsync)     %10.2f us\n",
                Time([&] { dvk::WriteFileAtomically(path.string(), dvk::FormatSettingsFile(example)); }));
    std::printf("  read from memory and apply       %10.2f us\n", Time([&] {
                    std::istringstream in(file);
                    dvk::ReadSettingsFile(in, [](dvk::SettingIndex, const std::string&) {});
                }));
    std::printf("  open from disk, read and apply   %10.2f us\n", Time([&] {
                    std::ifstream in(path, std::ios::binary);
                    dvk::ReadSettingsFile(in, [](dvk::SettingIndex, const std::string&) {});
                }));

    std::printf("hostile input                          1 MB read    4 MB read   valid  rewrite 1 MB\n");
    for (const Hostile& hostile : kHostile) {
        const std::string small = hostile.make(1 << 20);
        const std::string large = hostile.make(4 << 20);
        const XML_Tag tag = Read(small);
        const double smallTime = Time([&] { (void)Read(small); });
        const double largeTime = Time([&] { (void)Read(large); });
        std::printf("  %-34s %9.1f ms %9.1f ms   %-5s", hostile.name, smallTime / 1000, largeTime / 1000,
                    tag.valid ? "yes" : "no");
        if (tag.valid) {
            const double writeTime = Time([&] {
                std::ostringstream out;
                out << tag;
            });
            std::printf("  %9.1f ms", writeTime / 1000);
        }
        std::printf("\n");
    }
    std::filesystem::remove_all(folder);
    return 0;
}
