// The USB Program command: build the message from the fields as they stand
// (no validation on this road) and show the USB programmer.
#include "MainFrame.h"
#include "USBProgrammerDialog.h"

void MainFrame::OnUSBProgram(wxCommandEvent&)
{
    std::vector<unsigned char> message;
    ComputeMessage(message);
    ShowUSBProgrammer(this, message);
}
