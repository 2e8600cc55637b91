// Prints the bytes that the Linux program writes when it saves the settings
// of a .dvk file it opened: the yardstick for the Windows program's Save As.
//   expected-save FILE.dvk > expected.dvk
#include <cstdio>
#include <fstream>
#include <iostream>

#include "files/SettingsFile.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: expected-save FILE.dvk\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    dvk::SettingTexts texts;
    const dvk::FileResult read = dvk::ReadSettingsFile(in, [&](dvk::SettingIndex setting, const std::string& word) {
        texts[setting] = std::wstring(word.begin(), word.end());  // the files of the test are ASCII
    });
    if (!read) {
        std::fprintf(stderr, "%s: not a settings file\n", argv[1]);
        return 1;
    }
    std::cout << dvk::FormatSettingsFile(texts);
    return std::cout.good() ? 0 : 1;
}
