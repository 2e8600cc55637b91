#include "usb/USBProgrammerDialog.h"

#include <algorithm>
#include <chrono>

#include <wx/intl.h>
#include <wx/textwrapper.h>

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

// A static text's label for the text in lines no wider than `width` in the
// control's font, as wxStaticText::Wrap makes it from the label it holds.
class WrappedLabel : public wxTextWrapper {
public:
    WrappedLabel(wxWindow* control, const wxString& text, int width) { Wrap(control, text, width); }
    const wxString& Label() const { return label; }

private:
    void OnOutputLine(const wxString& line) override { label += wxControl::EscapeMnemonics(line); }
    void OnNewLine() override { label += '\n'; }
    wxString label;
};
}  // namespace

USBProgrammerDialog::USBProgrammerDialog(wxWindow* parent, usb_dvk::Platform& platform)
    : USBProgrammerDialogBase(parent, wxID_ANY, _("Dravik - USB Programmer"), wxDefaultPosition,
                              wxWindow::FromDIP(wxSize(350, 350), parent), wxDEFAULT_DIALOG_STYLE),
      system(platform)
{
    // 350 x 350 at 100 % and normal text, more where the fonts need it. The
    // outer size: a window manager reports the size of its decorations only
    // once the dialog is shown, and the toolkit then keeps the inside and
    // moves the outer edge; the dialog cannot be resized, so its size is put
    // back whenever they change.
    const auto wantedSize = [this] {
        wxSize size = FromDIP(wxSize(350, 350));
        size.IncTo(GetBestSize());
        return size;
    };
    SetSize(wantedSize());
    Bind(wxEVT_SIZE, [this, wantedSize, decorations = GetSize() - GetClientSize()](wxSizeEvent& event) mutable {
        if (GetSize() - GetClientSize() != decorations) {
            decorations = GetSize() - GetClientSize();
            if (!IsMaximized() && GetSize() != wantedSize())
                SetSize(wantedSize());
        }
        event.Skip();
    });
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
    // A running pass ends before the next query or delivery of each device,
    // so this waits for the transfers under way, side by side, which the
    // transfer time limit bounds. Changes it handed over are dropped with
    // the dialog's pending events.
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
    // Wrapped to the width of the list, and set once, so that a screen
    // reader announces each status once. The list gives up the height the
    // lines take, the dialog keeps its size.
    statusText->SetLabel(WrappedLabel(statusText, wxString::FromUTF8(text), deviceList->GetSize().x).Label());
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
