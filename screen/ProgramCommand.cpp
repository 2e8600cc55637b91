// The Program command: validate, build the message, show the screen programmer.
#include "MainFrame.h"

#include "ProgrammingMessage.h"
#include "ScreenProgrammerDialog.h"

void MainFrame::ComputeMessage(std::vector<unsigned char>& message)
{
    dvk::AppendProgrammingMessage(GetSettingTexts(), message);
}

void MainFrame::OnProgram(wxCommandEvent&)
{
    if (!IsProgramValid())
        return;  // the validation has shown its box
    std::vector<unsigned char> message;
    ComputeMessage(message);
    if (!CheckMessageSize(this, message))
        return;
    ScreenProgrammerDialog dialog(this);
    dialog.SetMessage(message);
    dialog.ShowModal();
}
