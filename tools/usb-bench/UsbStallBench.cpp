// Benchmark of the USB programmer's effect on the GUI event loop: the dialog
// runs over eight controller models, one of which never answers, for ten
// seconds of refreshes with three Program All passes. A 1 ms timer
// records the gaps between its ticks; the longest gap is the longest time
// the event loop could not run. Each Program All is clicked while a refresh
// runs, and the time from the click to its last mark is measured against
// the refresh and programming passes. Prints the figures.
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

#include "tests/support/ControllerModel.h"
#include "tests/support/ModelPlatform.h"
#include "usb/USBProgrammerDialog.h"

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
        CallAfter(&BenchApp::Run);
        return true;
    }

private:
    void Run()
    {
        const auto openStart = Clock::now();
        USBProgrammerDialog dialog(nullptr, platform);
        const double openMs = Ms(Clock::now() - openStart);
        std::vector<unsigned char> message(23);
        for (std::size_t i = 0; i < message.size(); ++i)
            message[i] = static_cast<unsigned char>(0x57 + i);
        dialog.SetMessage(message);

        // Measuring starts once the window is on screen and lasts the given
        // time. Program All is clicked three times, each time at the first
        // tick when a refresh runs, so that the click waits for it: the
        // controllers accept, then reject, then accept again, so that every
        // pass changes the marks.
        struct ProgramRun {
            double at;  // share of the run
            bool reject;
            Clock::time_point clicked{}, refreshStarted{}, programStarted{}, done{};
            double longestGap = 0;
        };
        ProgramRun runs[] = {{0.25, false}, {0.5, true}, {0.75, false}};
        std::vector<double> gaps;
        double longestGap = 0;
        double longestAt = 0;       // seconds into the run
        double longestOutside = 0;  // outside the Program All passes
        double longestRefresh = 0;  // the longest refresh pass
        Clock::time_point start{}, last{}, refreshStart{};
        bool measuring = false;
        bool refreshing = false;
        wxTimer probe;
        probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            const auto now = Clock::now();
            if (!measuring) {
                measuring = dialog.IsShownOnScreen();
                start = last = now;
                return;
            }
            const double elapsed = Ms(now - start) / 1000;
            const double gap = Ms(now - last);
            last = now;
            if (gap > longestGap) {
                longestGap = gap;
                longestAt = elapsed;
            }
            gaps.push_back(gap);
            const bool refreshingNow = dialog.IsBusy() && !dialog.IsProgramming();
            if (refreshingNow && !refreshing)
                refreshStart = now;
            if (refreshing && !refreshingNow) {
                longestRefresh = std::max(longestRefresh, Ms(now - refreshStart));
                for (ProgramRun& run : runs) {
                    if (run.clicked != Clock::time_point{} && run.programStarted == Clock::time_point{})
                        run.programStarted = now;
                }
            }
            refreshing = refreshingNow;
            bool inProgramAll = false;
            for (ProgramRun& run : runs) {
                if (run.clicked == Clock::time_point{}) {
                    if (elapsed < run.at * options.seconds || !refreshing || dialog.IsProgramAllPending())
                        continue;
                    for (const auto& model : models) {
                        model->ClearReceived();
                        model->RejectPiece(run.reject ? 0 : -1);
                    }
                    run.clicked = now;
                    run.refreshStarted = refreshStart;
                    wxCommandEvent click(wxEVT_BUTTON, dialog.GetProgramAllButton()->GetId());
                    click.SetEventObject(dialog.GetProgramAllButton());
                    dialog.GetProgramAllButton()->ProcessWindowEvent(click);
                } else if (run.done == Clock::time_point{}) {
                    inProgramAll = true;
                    run.longestGap = std::max(run.longestGap, gap);
                    if (!dialog.IsProgramAllPending() && !dialog.IsProgramming())
                        run.done = now;
                }
            }
            if (!inProgramAll)
                longestOutside = std::max(longestOutside, gap);
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
        const double p99 = sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
        const auto over5 = std::count_if(gaps.begin(), gaps.end(), [](double gap) { return gap > 5; });
        std::printf("controllers: %d (%d never answers), reply delay %d us, transfer time limit %lld ms\n",
                    options.controllers, options.controllers > 0 ? 1 : 0, options.replyDelayUs,
                    static_cast<long long>(usb_dvk::kTransferTimeLimit.count()));
        std::printf("dialog constructed in %.1f ms (first listing wait included)\n", openMs);
        std::printf("measured %.1f s: %zu timer ticks, longest gap %.1f ms (at %.2f s), 99th percentile %.1f ms, "
                    "%ld gaps over 5 ms\n",
                    Ms(last - start) / 1000, gaps.size(), longestGap, longestAt, p99, static_cast<long>(over5));
        std::printf("longest gap outside Program All: %.1f ms\n", longestOutside);
        bool clickGoalMet = true;
        for (const ProgramRun& run : runs) {
            if (run.done == Clock::time_point{}) {
                std::printf("Program All: did not finish\n");
                clickGoalMet = false;
                continue;
            }
            const double toLastMark = Ms(run.done - run.clicked);
            const double programPass = Ms(run.done - run.programStarted);
            clickGoalMet = clickGoalMet && toLastMark <= longestRefresh + programPass;
            std::printf("Program All clicked at %.2f s during a refresh (controllers %s): click to last mark %.0f ms "
                        "= rest of the refresh %.0f ms (of %.0f ms) + programming pass %.0f ms; longest gap "
                        "meanwhile %.1f ms\n",
                        Ms(run.clicked - start) / 1000, run.reject ? "reject" : "accept", toLastMark,
                        Ms(run.programStarted - run.clicked), Ms(run.programStarted - run.refreshStarted), programPass,
                        run.longestGap);
        }
        std::printf("longest refresh pass: %.0f ms\n", longestRefresh);
        std::printf("after the last pass: rows checked: %d, controllers that received the message: %d\n", checked,
                    received);
        std::printf("goal (no stall longer than 20 ms): %s\n", longestGap <= 20 ? "met" : "NOT met");
        std::printf("goal (click to last mark at most one refresh pass and the programming pass): %s\n",
                    clickGoalMet ? "met" : "NOT met");
        ExitMainLoop();
    }

    Options options;
    usb_dvk::ModelPlatform platform;
    std::vector<std::unique_ptr<dvk_model::ControllerModel>> models;
};

}  // namespace

wxIMPLEMENT_APP(BenchApp);
