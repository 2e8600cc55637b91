// The Program command: validate, build the message, show the screen programmer.
#include "MainFrame.h"

// Placeholder until the screen programmer lands.
void MainFrame::ComputeMessage(std::vector<unsigned char>&) {}
void MainFrame::OnProgram(wxCommandEvent&) { IsProgramValid(); }
