#include "usb/USBProgrammerDialog.h"

#include <algorithm>
#include <chrono>

#include <wx/intl.h>

#include "usb/OutcomeText.h"

namespace {
constexpr int kPollPeriodMs = 1000;
// How long the dialog waits, before it is first shown, for the first refresh
// to list what is plugged in. Controllers that answer take milliseconds; one
// that does not answer must not hold the window back for long: the rows it
// holds up show "Checking..." and are filled in when the refresh gets there.
constexpr std::chrono::milliseconds kFirstListingWait(100);

// The status line's texts from the program's catalogue. Called on the pass's
// thread too: looking up a loaded catalogue only reads it.
std::string Translate(const char* english)
{
    return wxGetTranslation(wxString::FromUTF8(english)).utf8_string();
}
}  // namespace

USBProgrammerDialog::USBProgrammerDialog(wxWindow* parent, usb_dvk::Platform& platform)
    : USBProgrammerDialogBase(parent, wxID_ANY, _("Dravik - USB Programmer"), wxDefaultPosition,
                              wxWindow::FromDIP(wxSize(350, 350), parent), wxDEFAULT_DIALOG_STYLE),
      system(platform)
{
    // 350 x 350 at 100 % and normal text, more where the fonts need it.
    wxSize size = FromDIP(wxSize(350, 350));
    size.IncTo(GetBestSize());
    SetSize(size);
    UpdateUSBList();
    {
        std::unique_lock<std::mutex> lock(queueMutex);
        passEnded.wait_for(lock, kFirstListingWait, [this] {
            return std::any_of(queue.begin(), queue.end(), [](const Queued& item) { return item.passEnd; });
        });
    }
    ApplyQueued();

    pollTimer = std::make_unique<wxTimer>(this);
    pollTimer->Start(kPollPeriodMs);
    Bind(wxEVT_TIMER, &USBProgrammerDialog::OnUSBTimer, this, pollTimer->GetId());
    Layout();
}

USBProgrammerDialog::~USBProgrammerDialog()
{
    pollTimer->Stop();
    Unbind(wxEVT_TIMER, &USBProgrammerDialog::OnUSBTimer, this, pollTimer->GetId());
    pollTimer.reset();
    // A running pass ends before its next device or query, so this waits for
    // one read at most, which the read time limit bounds. Changes it handed
    // over are dropped with the dialog's pending events.
    stopPass = true;
    if (passThread.joinable())
        passThread.join();
}

void USBProgrammerDialog::StartPass(Pass kind, PassWork work)
{
    if (running != Pass::None)
        return;
    running = kind;
    // The previous pass has handed over its end, so it is finishing or done.
    if (passThread.joinable())
        passThread.join();
    passThread = std::thread([this, work = std::move(work)] {
        std::string status = work([this](const usb_programmer::RowChange& change) { Post(Queued{false, change, {}}); });
        Post(Queued{true, {}, std::move(status)});
    });
}

void USBProgrammerDialog::Post(Queued item)
{
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        queue.push_back(std::move(item));
    }
    passEnded.notify_all();
    CallAfter(&USBProgrammerDialog::ApplyQueued);
}

void USBProgrammerDialog::ApplyQueued()
{
    std::deque<Queued> items;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        items.swap(queue);
    }
    for (const Queued& item : items) {
        if (!item.passEnd) {
            ApplyChange(item.change);
            continue;
        }
        passThread.join();
        running = Pass::None;
        ShowStatus(item.status);
        // A click kept during the refresh runs before anything else.
        if (programAllPending) {
            programAllPending = false;
            StartProgramPass();
        }
    }
}

void USBProgrammerDialog::ShowStatus(const std::string& text)
{
    if (text == shownStatus)
        return;
    shownStatus = text;
    // Wrapped to the width of the list; the list gives up the height the
    // lines take, the dialog keeps its size.
    statusText->SetLabel(wxControl::EscapeMnemonics(wxString::FromUTF8(text)));
    statusText->Wrap(deviceList->GetSize().x);
    Layout();
}

void USBProgrammerDialog::ApplyChange(const usb_programmer::RowChange& change)
{
    using Kind = usb_programmer::RowChange::Kind;
    const auto row = static_cast<unsigned int>(change.row);
    switch (change.kind) {
    case Kind::Append: deviceList->Append(wxGetTranslation(wxString::FromUTF8(change.text))); break;
    case Kind::SetText: deviceList->SetString(row, wxString::FromUTF8(change.text)); break;
    case Kind::SetCheck: deviceList->Check(row, change.checked); break;
    case Kind::Delete: deviceList->Delete(row); break;
    }
}

void USBProgrammerDialog::UpdateUSBList()
{
    StartPass(Pass::Refresh, [this](const usb_programmer::RowSink& sink) {
        lastRefresh = usb_programmer::RefreshPass(system, entries, sink, &stopPass);
        return usb_programmer::StatusText(lastRefresh, entries, Translate);
    });
}

void USBProgrammerDialog::StartProgramPass()
{
    StartPass(Pass::Program, [this, bytes = message](const usb_programmer::RowSink& sink) {
        usb_programmer::ProgramPass(system.GetPlatform(), entries, bytes, sink, &stopPass);
        // Its failures show at once, not only after the next refresh.
        return usb_programmer::StatusText(lastRefresh, entries, Translate);
    });
}

void USBProgrammerDialog::OnProgramAll(wxCommandEvent&)
{
    if (running == Pass::Refresh)
        programAllPending = true;
    else
        StartProgramPass();
}

void USBProgrammerDialog::OnExit(wxCommandEvent&)
{
    EndModal(0);
}

void USBProgrammerDialog::OnUSBTimer(wxTimerEvent&)
{
    UpdateUSBList();
}

void ShowUSBProgrammer(wxWindow* parent, const std::vector<unsigned char>& message, usb_dvk::Platform& platform)
{
    USBProgrammerDialog dialog(parent, platform);
    dialog.SetMessage(message);
    dialog.ShowModal();
}
