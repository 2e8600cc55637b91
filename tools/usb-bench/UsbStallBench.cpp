// Benchmark of the USB programmer's effect on the GUI event loop: the dialog
// runs over eight controller models, one of which never answers, for ten
// seconds of refreshes with one Program All in the middle. A 1 ms timer
// records the gaps between its ticks; the longest gap is the longest time
// the event loop could not run. Prints the figures.
//   usb_stall_bench [--seconds S] [--reply-delay-us U] [--controllers N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/timer.h>

#include "ControllerModel.h"
#include "USBProgrammerDialog.h"
#include "usb_dvk_model.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Options {
    double seconds = 10;
    int replyDelayUs = 1000;  // a full-speed interrupt endpoint answers on the next 1 ms frame
    int controllers = 8;
};

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            options.seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--reply-delay-us") == 0)
            options.replyDelayUs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--controllers") == 0)
            options.controllers = std::max(0, std::atoi(argv[i + 1]));
    }
    return options;
}

class BenchApp : public wxApp {
public:
    bool OnInit() override
    {
        options = ParseOptions(argc, argv);
        platform.SetReplyDelay(std::chrono::microseconds(options.replyDelayUs));
        for (int i = 0; i < options.controllers; ++i) {
            const std::string id = "DVK-" + std::to_string(38417 + i);
            models.push_back(std::make_unique<dvk_model::ControllerModel>(
                dvk_model::ControllerConfig{id, "3.0", {0x7C, 0x77, static_cast<std::uint8_t>(0x88 + i)}}));
            platform.Plug("/dev/hidraw" + std::to_string(i), *models.back());
        }
        // The silent one sits in the middle of the list.
        if (!models.empty())
            models[models.size() / 2]->SetNeverAnswers(true);
        usb_dvk::SetPlatform(&platform);
        CallAfter(&BenchApp::Run);
        return true;
    }

    int OnExit() override
    {
        usb_dvk::SetPlatform(nullptr);
        return wxApp::OnExit();
    }

private:
    void Run()
    {
        const auto openStart = Clock::now();
        USBProgrammerDialog dialog(nullptr);
        const double openMs = Ms(Clock::now() - openStart);
        std::vector<unsigned char> message(23);
        for (std::size_t i = 0; i < message.size(); ++i)
            message[i] = static_cast<unsigned char>(0x57 + i);
        dialog.SetMessage(message);

        // Measuring starts once the window is on screen; the run then lasts
        // the given time, with Program All clicked after a third of it (at
        // the first moment no refresh runs, as a click meanwhile is dropped).
        std::vector<double> gaps;
        double longestSoFar = 0;
        double longestAt = 0;  // seconds into the run
        Clock::time_point start{}, last{}, clicked{}, programmed{};
        bool measuring = false;
        int droppedClicks = 0;
        wxTimer probe;
        probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            const auto now = Clock::now();
            if (!measuring) {
                if (!dialog.IsShownOnScreen())
                    return;
                measuring = true;
                start = last = now;
                return;
            }
            const double elapsed = Ms(now - start) / 1000;
            const double gap = Ms(now - last);
            if (gap > longestSoFar) {
                longestSoFar = gap;
                longestAt = elapsed;
            }
            gaps.push_back(gap);
            last = now;
            if (clicked == Clock::time_point{} && elapsed >= options.seconds / 3) {
                if (dialog.IsBusy()) {
                    ++droppedClicks;
                } else {
                    clicked = now;
                    wxCommandEvent click(wxEVT_BUTTON, dialog.GetProgramAllButton()->GetId());
                    click.SetEventObject(dialog.GetProgramAllButton());
                    dialog.GetProgramAllButton()->ProcessWindowEvent(click);
                }
            } else if (clicked != Clock::time_point{} && programmed == Clock::time_point{} && !dialog.IsBusy()) {
                programmed = now;
            }
            if (elapsed >= options.seconds)
                dialog.EndModal(0);
        });
        probe.Start(1);
        dialog.ShowModal();
        probe.Stop();

        int checked = 0;
        for (unsigned int i = 0; i < dialog.GetDeviceList()->GetCount(); ++i)
            checked += dialog.GetDeviceList()->IsChecked(i) ? 1 : 0;
        int received = 0;
        for (const auto& model : models)
            received += model->PiecesReceived() > 0 ? 1 : 0;

        std::vector<double> sorted = gaps;
        std::sort(sorted.begin(), sorted.end());
        const double longest = sorted.empty() ? 0 : sorted.back();
        const double p99 = sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
        std::printf("controllers: %d (%d never answers), reply delay %d us, read time limit %lld ms\n",
                    options.controllers, options.controllers > 0 ? 1 : 0, options.replyDelayUs,
                    static_cast<long long>(usb_dvk::kReadTimeLimit.count()));
        std::printf("dialog constructed in %.1f ms (first listing wait included)\n", openMs);
        const auto over5 = std::count_if(gaps.begin(), gaps.end(), [](double gap) { return gap > 5; });
        std::printf("measured %.1f s: %zu timer ticks, longest gap %.1f ms (at %.2f s), 99th percentile %.1f ms, "
                    "%ld gaps over 5 ms\n",
                    Ms(last - start) / 1000, gaps.size(), longest, longestAt, p99, static_cast<long>(over5));
        if (programmed != Clock::time_point{})
            std::printf("Program All: %.0f ms, %d rows checked, %d controllers received the message "
                        "(%d ticks waited for a refresh to end)\n",
                        Ms(programmed - clicked), checked, received, droppedClicks);
        else
            std::printf("Program All: did not finish\n");
        std::printf("goal (no stall longer than 20 ms): %s\n", longest <= 20 ? "met" : "NOT met");
        ExitMainLoop();
    }

    Options options;
    usb_dvk::ModelPlatform platform;
    std::vector<std::unique_ptr<dvk_model::ControllerModel>> models;
};

}  // namespace

wxIMPLEMENT_APP(BenchApp);
