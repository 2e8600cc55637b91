// main of the GUI tests: the toolkit is initialised with an application
// object that opens no window, then GoogleTest runs the tests, which create
// and destroy their own windows.
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/init.h>

namespace {
// A toolkit assertion fails the running test instead of opening a box that
// nobody would answer.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << "toolkit assertion in " << func.utf8_str() << ": "
                                          << cond.utf8_str() << " " << msg.utf8_str();
}

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};
}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new TestApp());
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "cannot initialise the toolkit (is DISPLAY set?)\n");
        return 1;
    }
    wxSetAssertHandler(FailOnAssert);
    wxTheApp->CallOnInit();
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
