// Names for assistive technology (screen readers, magnifiers). The system
// names a button or a static text by its label; a control without a label of
// its own (an entry field, a gauge, a list, a panel) is named by the program:
// its window name (wxWindow::SetName), which every window sets, translated,
// where it makes the control. The platform sources (Accessibility_linux.cpp:
// the GTK widget's ATK object; Accessibility_windows.cpp: the toolkit's MSAA
// support) give it to the system.
#pragma once

#include <wx/eventfilter.h>

class wxWindow;
class wxString;

// Gives the control the name a screen reader announces for it.
void SetAccessibleName(wxWindow* control, const wxString& name);

// Names the controls without a label of their own in the window and its
// children after their window names; those that kept the toolkit's default
// window name are left to the system.
void NameUnlabelledControls(wxWindow* window);

// Names the controls of every top-level window (the main window, the
// dialogs of every folder) as the window is shown. Installed by the
// application object for its lifetime.
class AccessibleNames : public wxEventFilter {
public:
    AccessibleNames();
    ~AccessibleNames() override;
    AccessibleNames(const AccessibleNames&) = delete;
    AccessibleNames& operator=(const AccessibleNames&) = delete;

    int FilterEvent(wxEvent& event) override;
};
