// screen_driver: the program's main window with given settings, operated
// through its real buttons: Program, then Start in the screen programmer as
// many times as asked, each time until "Programming...Done", then Exit.
// Prints "start <monotonic ms>" when each Start is handled, so that a probe
// watching the screen can time the whole transmission, and at the end
// "swap <monotonic ms>" for each swap as the worker sent it, so that what was
// sent can be told apart from what was seen. Any process of the same user may
// stop its threads with ptrace (dvk-thread-stopper).
//
//   screen_driver [--transmissions N] [--settings v1,v2,...,v11]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <time.h>

#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/testing.h>
#include <wx/timer.h>
#include <wx/tokenzr.h>
#include <wx/uiaction.h>

#include "app/MainFrame.h"
#include "screen/ScreenProgrammerDialog.h"
#include "tests/screen/DrawLog.h"

namespace {

double NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void ClickOn(wxWindow* window)
{
    const wxRect rect = window->GetScreenRect();
    wxUIActionSimulator simulator;
    simulator.MouseMove(rect.GetLeft() + rect.GetWidth() / 2, rect.GetTop() + rect.GetHeight() / 2);
    simulator.MouseClick();
}

class DriverApp : public wxApp {
public:
    bool OnInit() override
    {
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        wxArrayString settings = wxSplit("100,500,20,80,600,30,200,1000,0,128,250", ',');
        for (int i = 1; i < argc; ++i) {
            const wxString arg = argv[i];
            if (arg == "--transmissions" && i + 1 < argc)
                transmissions = std::atoi(argv[++i].utf8_str());
            else if (arg == "--settings" && i + 1 < argc)
                settings = wxSplit(argv[++i], ',');
            else
                return Usage();
        }
        if (settings.size() != dvk::SettingCount || transmissions < 1)
            return Usage();

        {
            usbPlatform = usb_dvk::MakeNativePlatform();
            wxTEST_DIALOG(frame = new MainFrame(wxString(), *usbPlatform),
                          wxExpectModal<wxFileDialog>(wxEmptyString, wxID_CANCEL));
        }
        for (int i = 0; i < dvk::SettingCount; ++i)
            frame->GetSettingField(static_cast<dvk::SettingIndex>(i))->ChangeValue(settings[i]);
        frame->SetSaveStatus(false);
        frame->Show();
        SetTopWindow(frame);

        timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Step(); });
        timer.Start(20);
        return true;
    }

    int OnExit() override { return wxApp::OnExit(); }
    int OnRun() override { return wxApp::OnRun() == 0 && failed.empty() ? 0 : 1; }

private:
    bool Usage()
    {
        std::fprintf(stderr, "usage: screen_driver [--transmissions N] [--settings v1,...,v11]\n");
        return false;
    }

    ScreenProgrammerDialog* FindDialog() const
    {
        for (wxWindow* window : wxTopLevelWindows)
            if (auto* dialog = dynamic_cast<ScreenProgrammerDialog*>(window); dialog && dialog->IsShownOnScreen())
                return dialog;
        return nullptr;
    }

    void Fail(const char* what)
    {
        failed = what;
        std::fprintf(stderr, "screen_driver: %s\n", what);
        Finish();
    }

    void Finish()
    {
        timer.Stop();
        if (auto* dialog = FindDialog())
            dialog->EndModal(wxID_OK);
        CallAfter([this] { frame->Destroy(); });
    }

    // Runs every 20 ms, inside the dialog's modal loop once it is open.
    void Step()
    {
        const double now = NowMs();
        if (stepStarted == 0)
            stepStarted = now;
        if (now - stepStarted > 60000) {
            Fail("a step took longer than a minute");
            return;
        }
        ScreenProgrammerDialog* dialog = FindDialog();
        switch (state) {
        case State::ClickProgram:
            if (!frame->IsShownOnScreen())
                return;
            if (auto* program = wxWindow::FindWindowByLabel("Program", frame)) {
                Next(State::WaitForDialog);
                ClickOn(program);
            } else {
                Fail("no Program button");
            }
            return;
        case State::WaitForDialog:
            if (!dialog || now - stepStarted < 100)
                return;
            dialog->SetDrawHook(
                [this](bool inverted, std::chrono::steady_clock::time_point sent) { drawings.Add(inverted, sent); });
            dialog->GetStartButton()->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
                ++started;
                std::printf("start %.4f\n", NowMs());
                std::fflush(stdout);
                event.Skip();
            });
            Next(State::ClickStart);
            return;
        case State::ClickStart:
            // Give a probe time to find the panel before the first Start.
            if (now - stepStarted < (done == 0 ? 1000 : 200))
                return;
            Next(State::WaitForDone);
            ClickOn(dialog->GetStartButton());
            return;
        case State::WaitForDone:
            if (!dialog || started <= done || dialog->GetStatusText()->GetLabel() != "Programming...Done" ||
                dialog->IsTransmitting())
                return;
            if (++done < transmissions) {
                Next(State::ClickStart);
                return;
            }
            Next(State::Exit);
            ClickOn(dialog->FindWindow(wxID_OK));
            return;
        case State::Exit:
            if (dialog)
                return;  // the modal loop has not ended yet
            for (std::size_t i = 0; i < std::min(drawings.Count(), screentest::DrawLog::kCapacity); ++i)
                std::printf("swap %.4f\n",
                            std::chrono::duration<double, std::milli>(drawings[i].sent.time_since_epoch()).count());
            std::printf("done %d\n", done);
            std::fflush(stdout);
            Finish();
            return;
        }
    }

    enum class State { ClickProgram, WaitForDialog, ClickStart, WaitForDone, Exit };
    void Next(State next)
    {
        state = next;
        stepStarted = NowMs();
    }

    std::unique_ptr<usb_dvk::Platform> usbPlatform;  // as the program has it
    MainFrame* frame = nullptr;
    wxTimer timer;
    State state = State::ClickProgram;
    double stepStarted = 0;
    int transmissions = 1;
    int started = 0;  // Start presses handled
    int done = 0;     // transmissions seen through to "Programming...Done"
    std::string failed;
    screentest::DrawLog drawings;
};

}  // namespace

wxIMPLEMENT_APP(DriverApp);
