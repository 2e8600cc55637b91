// The thickness of a separator line as the system draws it
// (Separator_linux.cpp, Separator_windows.cpp). The toolkit gives every
// static line two pixels, the etched line of Windows; GTK's themes draw one,
// and a second would only take a row of pixels from the layout.
#pragma once

#include <wx/statline.h>

// The height a horizontal line needs, in the toolkit's pixels.
int SeparatorThickness(wxStaticLine& line);
