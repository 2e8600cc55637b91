#include "app/Language.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>
#include <wx/translation.h>
#include <wx/uilocale.h>

void UseSystemLanguage(const wxArrayString& catalogFolders)
{
    // Fails, harmlessly, when the system lacks the locale the environment
    // names; the catalogues do not depend on it.
    wxUILocale::UseDefault();
    for (const wxString& folder : catalogFolders)
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(folder);

    auto* translations = new wxTranslations;
    wxTranslations::Set(translations);  // owned by the toolkit from here
    // The toolkit's texts (Yes, No, Cancel) in the program's language, not
    // in one the toolkit has and the program has not. Where the system names
    // no preferred languages (wine), the toolkit offers the system's
    // language with its region (de_DE), which our German catalogue serves.
    wxString best = translations->GetBestTranslation(kCatalogDomain, wxLANGUAGE_ENGLISH_US);
    const wxArrayString ours = translations->GetAvailableTranslations(kCatalogDomain);
    if (ours.Index(best) == wxNOT_FOUND)
        best = best.BeforeFirst('_');
    translations->SetLanguage(ours.Index(best) != wxNOT_FOUND ? best : wxString("en_US"));
    translations->AddStdCatalog();
    translations->AddCatalog(kCatalogDomain);
}

wxArrayString ProgramCatalogFolders()
{
    const wxFileName program(wxStandardPaths::Get().GetExecutablePath());
    wxArrayString folders;
    folders.Add(program.GetPathWithSep() + "locale");
    wxFileName prefix(program.GetPath(), wxEmptyString);
    prefix.RemoveLastDir();
    folders.Add(prefix.GetPathWithSep() + "share" + wxFILE_SEP_PATH + "locale");
    return folders;
}
