// Accessible names on GTK: the name of the widget's ATK object, which the
// AT-SPI bridge hands to screen readers. A list is named on its tree view,
// the part that takes the focus, inside the scrolled window the toolkit
// wraps it in.
#include "app/Accessibility.h"

#include <wx/listbox.h>
#include <wx/window.h>

// The GTK and ATK functions needed, from the libraries the toolkit runs on,
// declared here so that the build needs no GTK development files.
extern "C" {
struct _AtkObject;
_AtkObject* gtk_widget_get_accessible(GtkWidget* widget);
GtkWidget* gtk_bin_get_child(GtkWidget* bin);
void atk_object_set_name(_AtkObject* accessible, const char* name);
}

void SetAccessibleName(wxWindow* control, const wxString& name)
{
    GtkWidget* widget = control->GetHandle();
    if (dynamic_cast<wxListBox*>(control) && widget)
        widget = gtk_bin_get_child(widget);
    if (!widget)
        return;
    if (_AtkObject* accessible = gtk_widget_get_accessible(widget))
        atk_object_set_name(accessible, name.utf8_str());
}
