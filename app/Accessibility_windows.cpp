// Accessible names on Windows: the toolkit's MSAA support (wxAccessible)
// answers the name; everything else (role, state, value, a list's rows)
// comes from the system's own accessible object of the control.
#include "app/Accessibility.h"

#include <wx/access.h>
#include <wx/window.h>

// Without it the toolkit answers no client of MSAA for the program, and the
// fields keep the names Windows guesses from the labels beside them.
#if !wxUSE_ACCESSIBILITY
#error "the toolkit for Windows must be built with accessibility (configure --enable-accessibility)"
#endif

namespace {

class NamedAccessible : public wxAccessible {
public:
    NamedAccessible(wxWindow* window, const wxString& name) : wxAccessible(window), name(name) { }

    wxAccStatus GetName(int childId, wxString* result) override
    {
        if (childId != wxACC_SELF)
            return wxACC_NOT_IMPLEMENTED;
        *result = name;
        return wxACC_OK;
    }

private:
    wxString name;
};

}  // namespace

void SetAccessibleName(wxWindow* control, const wxString& name)
{
    control->SetAccessible(new NamedAccessible(control, name));  // owned by the control
}
