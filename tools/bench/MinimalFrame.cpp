// The yardstick of the start-up benchmark: the least wxWidgets program that
// opens one empty 380 x 310 frame.
#include <wx/app.h>
#include <wx/frame.h>

class MinimalApp : public wxApp {
public:
    bool OnInit() override
    {
        (new wxFrame(nullptr, wxID_ANY, "Minimal", wxDefaultPosition, wxSize(380, 310)))->Show();
        return true;
    }
};

wxIMPLEMENT_APP(MinimalApp);
