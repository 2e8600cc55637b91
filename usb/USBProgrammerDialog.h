// The USB programmer: lists the controllers plugged in, refreshes the list
// once a second and delivers the programming message to all of them. The
// line under the list says what was found and why listed controllers failed.
//
// The transfers run on a worker thread, one pass at a time (a refresh or a
// programming pass), which serves the devices side by side on threads of
// its own; the pass reports its changes of the list in row order, and the
// GUI thread applies them in that order. A pass counts as running from its
// start until its last change is applied. A timer tick meanwhile is dropped. A
// Program All click during a refresh is kept and runs as soon as the
// refresh ends; one during a programming pass, or while one is already
// kept, is dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <wx/timer.h>

#include "usb/USBProgrammerDialogBase.h"
#include "usb/USBProgrammerPasses.h"

class USBProgrammerDialog : public USBProgrammerDialogBase {
public:
    // Finds and opens the controllers through the platform.
    USBProgrammerDialog(wxWindow* parent, usb_dvk::Platform& platform);
    ~USBProgrammerDialog() override;

    // Starts a refresh pass unless a pass is running.
    void UpdateUSBList();

    void SetMessage(const std::vector<unsigned char>& bytes) { message = bytes; }
    const std::vector<unsigned char>& GetMessage() const { return message; }
    bool IsBusy() const { return running != Pass::None; }
    bool IsProgramming() const { return running == Pass::Program; }
    bool IsProgramAllPending() const { return programAllPending; }
    wxCheckListBox* GetDeviceList() const { return deviceList; }
    wxStaticText* GetStatusText() const { return statusText; }
    wxButton* GetProgramAllButton() const { return programAllButton; }
    wxButton* GetExitButton() const { return exitButton; }

protected:
    void OnProgramAll(wxCommandEvent& event) override;
    void OnExit(wxCommandEvent& event) override;
    void OnUSBTimer(wxTimerEvent& event);

private:
    enum class Pass { None, Refresh, Program };
    // A pass's work; it gives the status line to show when it ends.
    using PassWork = std::function<std::string(const usb_programmer::RowSink&)>;
    struct Queued {
        bool passEnd;
        usb_programmer::RowChange change;
        std::string status;  // at the pass's end
    };

    // Runs the pass on the worker thread; nothing is started while one runs.
    void StartPass(Pass kind, PassWork work);
    void StartProgramPass();
    // Worker side: hands a change or the pass's end to the GUI thread.
    void Post(Queued item);
    // GUI side: applies every change handed over so far.
    void ApplyQueued();
    void ApplyChange(const usb_programmer::RowChange& change);
    void ShowStatus(const std::string& text);

    std::unique_ptr<wxTimer> pollTimer;
    usb_dvk::System system;
    // Used by the running pass only while one runs; by the GUI thread otherwise.
    usb_programmer::Entries entries;
    usb_programmer::RefreshReport lastRefresh;
    Pass running = Pass::None;
    bool programAllPending = false;
    std::vector<unsigned char> message;
    std::string shownStatus;  // the status line as the passes gave it, before wrapping

    std::thread passThread;
    std::atomic<bool> stopPass{false};
    std::mutex queueMutex;
    std::condition_variable passEnded;
    std::deque<Queued> queue;
};

// Shows the USB programmer modally with the message, over the platform.
void ShowUSBProgrammer(wxWindow* parent, const std::vector<unsigned char>& message, usb_dvk::Platform& platform);
