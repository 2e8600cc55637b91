// The program's language: the one the system prefers of those the program
// has catalogues for, English otherwise.
#pragma once

#include <wx/arrstr.h>

// The program's catalogue domain: <folder>/<language>/LC_MESSAGES/dravik.mo.
constexpr char kCatalogDomain[] = "dravik";

// Takes the user's locale for the toolkit and the system's own dialogs, then
// loads the program's catalogue and the toolkit's (wxstd) in one language,
// looking in the folders given first, then where the toolkit looks (on Linux
// the install prefix's share/locale). Call once, before the first window.
// Numbers are never written through the locale, so a settings file, the
// programming message and every number shown stay the same in every
// language.
void UseSystemLanguage(const wxArrayString& catalogFolders);

// Where the program's catalogues are beside it: the folder "locale" beside
// the program (Windows, and the build tree), and share/locale of the prefix
// it is installed under.
wxArrayString ProgramCatalogFolders();
