// The USB programmer: lists the controllers plugged in, refreshes the list
// once a second and delivers the programming message to all of them.
//
// The transfers run on a worker thread, one pass at a time (a refresh or a
// programming pass); the pass reports its changes of the list, and the GUI
// thread applies them in order. The busy flag, set from a pass's start until
// its last change is applied, drops timer ticks and clicks meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <wx/timer.h>

#include "USBProgrammerDialogBase.h"
#include "USBProgrammerPasses.h"

class USBProgrammerDialog : public USBProgrammerDialogBase {
public:
    explicit USBProgrammerDialog(wxWindow* parent);
    ~USBProgrammerDialog() override;

    // Starts a refresh pass unless a pass is running.
    void UpdateUSBList();
    // Whether an entry holds the device's path; only while no pass runs.
    bool HasDevice(const usb_dvk::Device* device) const;

    void SetMessage(const std::vector<unsigned char>& bytes) { message = bytes; }
    const std::vector<unsigned char>& GetMessage() const { return message; }
    bool IsBusy() const { return busy; }
    wxCheckListBox* GetDeviceList() const { return deviceList; }
    wxButton* GetProgramAllButton() const { return programAllButton; }
    wxButton* GetExitButton() const { return exitButton; }

protected:
    void OnProgramAll(wxCommandEvent& event) override;
    void OnExit(wxCommandEvent& event) override;
    void OnUSBTimer(wxTimerEvent& event);

private:
    struct Queued {
        bool passEnd;
        usb_programmer::RowChange change;
    };

    // Runs the pass on the worker thread; false (and nothing started) when busy.
    bool StartPass(std::function<void(const usb_programmer::RowSink&)> pass);
    // Worker side: hands a change or the pass's end to the GUI thread.
    void Post(Queued item);
    // GUI side: applies every change handed over so far.
    void ApplyQueued();
    void ApplyChange(const usb_programmer::RowChange& change);

    std::unique_ptr<wxTimer> pollTimer;
    usb_dvk::System system;
    // Used by the running pass only while busy; by the GUI thread otherwise.
    usb_programmer::Entries entries;
    bool busy = false;
    std::vector<unsigned char> message;

    std::thread passThread;
    std::atomic<bool> stopPass{false};
    std::mutex queueMutex;
    std::condition_variable passEnded;
    std::deque<Queued> queue;
};

// Shows the USB programmer modally with the message, or the error box when
// the message does not fit the controller's memory.
void ShowUSBProgrammer(wxWindow* parent, const std::vector<unsigned char>& message);
