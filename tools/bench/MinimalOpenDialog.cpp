// The yardstick of the Windows start-up benchmark: the least wxWidgets
// program that, like the program, shows the open dialog for a settings file
// first and then one 380 x 310 frame.
#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/frame.h>

class MinimalApp : public wxApp {
public:
    bool OnInit() override
    {
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Minimal", wxDefaultPosition, wxSize(380, 310));
        wxFileDialog dialog(frame, "Please select the file to open", wxEmptyString, wxEmptyString,
                            "Dravik files (*.dvk)|*.dvk|All files (*.*)|*.*", wxFD_OPEN);
        dialog.ShowModal();
        frame->Show();
        return true;
    }
};

wxIMPLEMENT_APP(MinimalApp);
