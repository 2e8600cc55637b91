// What the program makes of its command line: at most the settings file to
// open at start-up in place of the open dialog.
#pragma once

#include <wx/arrstr.h>
#include <wx/string.h>

// The settings file that the command line names (argv[0] is the program):
// the first argument that is not an option, or empty when there is none. An
// option starts with '-' (until an argument "--", after which every argument
// is a file name). Options and further files are ignored: a file manager or
// the shell gives one full path per program it starts, and a file typed after
// an option still opens. Empty arguments name nothing.
wxString SettingsFileArgument(const wxArrayString& argv);
