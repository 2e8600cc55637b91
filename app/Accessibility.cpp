#include "app/Accessibility.h"

#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

namespace {

// The window name that the toolkit gives a control of this kind when the
// program names none; empty for a control that its label names.
wxString DefaultName(wxWindow* control)
{
    if (dynamic_cast<wxTextCtrl*>(control))
        return wxTextCtrlNameStr;
    if (dynamic_cast<wxGauge*>(control))
        return wxGaugeNameStr;
    if (dynamic_cast<wxListBox*>(control))
        return wxListBoxNameStr;
    if (dynamic_cast<wxPanel*>(control) && !control->IsTopLevel())
        return wxPanelNameStr;
    return wxString();
}

}  // namespace

void NameUnlabelledControls(wxWindow* window)
{
    for (wxWindow* child : window->GetChildren()) {
        const wxString toolkitName = DefaultName(child);
        if (!toolkitName.empty() && child->GetName() != toolkitName)
            SetAccessibleName(child, child->GetName());
        NameUnlabelledControls(child);
    }
}

AccessibleNames::AccessibleNames()
{
    wxEvtHandler::AddFilter(this);
}

AccessibleNames::~AccessibleNames()
{
    wxEvtHandler::RemoveFilter(this);
}

int AccessibleNames::FilterEvent(wxEvent& event)
{
    if (event.GetEventType() == wxEVT_SHOW && static_cast<wxShowEvent&>(event).IsShown()) {
        if (auto* window = dynamic_cast<wxTopLevelWindow*>(event.GetEventObject()))
            NameUnlabelledControls(window);
    }
    return Event_Skip;
}
