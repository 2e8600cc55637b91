#include "app/CommandLine.h"

wxString SettingsFileArgument(const wxArrayString& argv)
{
    bool options = true;
    for (size_t i = 1; i < argv.size(); ++i) {
        const wxString& argument = argv[i];
        if (options && argument == "--")
            options = false;
        else if (!argument.empty() && !(options && argument.StartsWith("-")))
            return argument;
    }
    return wxString();
}
