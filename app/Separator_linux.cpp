// The theme's own minimum height of a GTK separator is the line it draws
// (the toolkit asks GTK for the line's size only after setting it itself).
#include "app/Separator.h"

// From the GTK 3 that the toolkit runs on, declared here so that the build
// needs no GTK development files.
extern "C" {
struct GtkStyleContext;
GtkStyleContext* gtk_widget_get_style_context(GtkWidget* widget);
void gtk_style_context_get(GtkStyleContext* context, int state, const char* property, ...);
}

int SeparatorThickness(wxStaticLine& line)
{
    constexpr int kNormalState = 0;  // GTK_STATE_FLAG_NORMAL
    int height = 0;
    gtk_style_context_get(gtk_widget_get_style_context(line.GetHandle()), kNormalState, "min-height", &height,
                          static_cast<const char*>(nullptr));
    return height > 0 ? height : line.GetBestSize().y;
}
