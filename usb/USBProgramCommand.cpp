// The USB Program command: build the message, show the USB programmer.
#include "MainFrame.h"

// Placeholder until the USB programmer lands.
void MainFrame::OnUSBProgram(wxCommandEvent&) {}
