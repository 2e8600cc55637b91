// main of the GUI tests: the toolkit starts with an application object that
// opens no window, and GoogleTest runs inside its event loop; the tests
// create and destroy their own windows.
#include <cstdio>
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/init.h>

#include "app/Language.h"

namespace {

// A toolkit assertion fails the running test instead of opening a box that
// nobody would answer.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line)
        << "toolkit assertion in " << func.utf8_str() << ": " << cond.utf8_str() << " " << msg.utf8_str();
}

class TestApp : public wxApp {
public:
    bool OnInit() override
    {
        wxSetAssertHandler(FailOnAssert);
        // The language from the environment, as the program takes it (CTest
        // gives English unless a test names one); the build tree's catalogues.
        UseSystemLanguage(wxArrayString(1, DVK_CATALOG_DIR));
        CallAfter([this] {
            result = RUN_ALL_TESTS();
            ExitMainLoop();
        });
        return true;
    }
    int OnRun() override
    {
        wxApp::OnRun();
        return result;
    }

private:
    int result = 1;
};

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new TestApp());
    return wxEntry(argc, argv);
}
