#include "screen/ScreenProgrammerDialog.h"

#include <algorithm>

#include <wx/intl.h>

namespace {
constexpr int kStartButtonId = 0;
constexpr int kStatusPointSize = 14;
// The dialog's size at 100 % and normal text, in device-independent pixels.
const wxSize kDialogSize(375, 275);
// The flashing panel's size in it.
const wxSize kPanelSize(359, 151);
// The widest texts that the status line shows, with the countdown's.
const char* const kWidestStatus[] = {wxTRANSLATE("Ready to program"), wxTRANSLATE("Programming...Done"),
                                     wxTRANSLATE("Programming...Stopped"), wxTRANSLATE("Programming...Failed")};
constexpr int kWidestCountdown = 3;
// How often the dialog shows the worker's progress while it transmits.
constexpr int kProgressIntervalMs = 40;
}  // namespace

wxBEGIN_EVENT_TABLE(ScreenProgrammerDialog, wxDialog) EVT_BUTTON(kStartButtonId, ScreenProgrammerDialog::OnStart)
    wxEND_EVENT_TABLE()

        ScreenProgrammerDialog::ScreenProgrammerDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, _("Dravik - Screen Programmer"), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE)
{
    sizer = new wxBoxSizer(wxVERTICAL);

    statusText =
        new wxStaticText(this, wxID_ANY, _("Ready to program"), wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE);
    statusText->SetFont(
        wxFont(kStatusPointSize, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD, false, wxEmptyString));
    // Wide enough for every status, so that a longer one is never cut when
    // the fonts are large.
    int statusWidth = statusText->GetTextExtent(wxString::Format(_("Starting in...%d"), kWidestCountdown)).x;
    for (const char* status : kWidestStatus)
        statusWidth = std::max(statusWidth, statusText->GetTextExtent(wxGetTranslation(status)).x);
    statusText->SetMinSize(wxSize(statusWidth, -1));
    sizer->Add(statusText, 0, wxALIGN_CENTER, 0);

    gauge = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL | wxGA_SMOOTH);
    sizer->Add(gauge, 0, wxEXPAND | wxALL, FromDIP(10));
    gauge->SetValue(0);
    gauge->SetName(_("Progress"));

    programmer = new ScreenProgrammer(this);
    programmer->SetName(_("Flashing panel"));
    sizer->Add(programmer, 1, wxEXPAND | wxALL, FromDIP(5));

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    startButton = new wxButton(this, kStartButtonId, _("Start"), wxDefaultPosition, wxDefaultSize, 0);
    buttons->Add(startButton, 0, wxALL, FromDIP(5));
    buttons->Add(new wxStaticText(this, wxID_ANY, wxEmptyString), 1, wxEXPAND, 0);
    // The spacer before it already keeps Exit at the right edge.
    buttons->Add(new wxButton(this, wxID_OK, _("Exit")), 0, wxALL, FromDIP(5));
    sizer->Add(buttons, 0, wxEXPAND, 0);

    SetSizer(sizer);
    // The size is the outer size. A window manager reports the size of its
    // decorations only once the dialog is shown (and may change it then);
    // the toolkit keeps the inside and moves the outer edge. The dialog
    // cannot be resized, so its size is put back whenever they change.
    const auto wantedSize = [this] {
        wxSize size = FromDIP(kDialogSize);
        // Wider for a long status in a large font (some languages' are):
        // taller too, by as much as keeps the panel's proportions.
        const wxSize best = GetBestSize();
        if (best.x > size.x)
            size.y += (best.x - size.x) * kPanelSize.y / kPanelSize.x;
        size.IncTo(best);
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
    Layout();
    // Enter starts the transmission as soon as the dialog opens.
    startButton->SetFocus();

    progressTimer.SetOwner(this);
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { ShowProgress(); }, progressTimer.GetId());

    thread = std::make_unique<ScreenProgrammerThread>(programmer->InvertedState());
    thread->Create();
    thread->Run();
}

ScreenProgrammerDialog::~ScreenProgrammerDialog()
{
    progressTimer.Stop();
    thread->End();
    thread->Wait();
    thread.reset();
}

void ScreenProgrammerDialog::SetMessage(const std::vector<unsigned char>& newMessage)
{
    message = newMessage;
    gauge->SetRange(static_cast<int>(dvk::kProgressPerByte * message.size()));
}

void ScreenProgrammerDialog::OnStart(wxCommandEvent&)
{
    // The click does what the button showed: while it read "Stop" it never
    // starts a transmission. One that has ended since the timer last looked
    // shows its end; one still under way stops.
    if (!transmitting) {
        StartTransmission();
        return;
    }
    ShowProgress();
    if (transmitting)
        StopTransmission();
}

void ScreenProgrammerDialog::StartTransmission()
{
    ++transmission;
    transmitting = true;
    shown = ScreenStatus();
    gauge->SetValue(0);
    gauge->SetName(_("Progress"));
    startButton->SetLabel(_("Stop"));
    const wxSize panelSize = programmer ? programmer->LastSize() : wxSize();
    thread->Start(transmission, message,
                  ReadPanelTarget(programmer.get(), panelSize.GetWidth(), panelSize.GetHeight()));
    progressTimer.Start(kProgressIntervalMs);
}

void ScreenProgrammerDialog::StopTransmission()
{
    // The worker puts the panel back to its starting colours as it wakes.
    thread->Stop();
    EndTransmission(_("Programming...Stopped"));
}

void ScreenProgrammerDialog::EndTransmission(const wxString& status)
{
    transmitting = false;
    progressTimer.Stop();
    SetStatus(status);
    startButton->SetLabel(_("Start"));
}

void ScreenProgrammerDialog::ShowProgress()
{
    const ScreenStatus latest = thread->Status();
    if (!transmitting || latest.transmission != transmission || latest == shown)
        return;
    const ScreenStatus before = shown;
    shown = latest;
    switch (latest.phase) {
    case ScreenStatus::Phase::Idle: break;
    case ScreenStatus::Phase::Countdown: SetStatus(wxString::Format(_("Starting in...%d"), latest.value)); break;
    case ScreenStatus::Phase::Sending:
        if (before.phase != ScreenStatus::Phase::Sending)
            SetStatus(_("Programming..."));
        gauge->SetValue(latest.value);
        break;
    case ScreenStatus::Phase::Done:
        gauge->SetValue(latest.value);
        EndTransmission(_("Programming...Done"));
        break;
    case ScreenStatus::Phase::Failed:
        // The panel could not be drawn on: nothing reached the controller.
        EndTransmission(_("Programming...Failed"));
        break;
    }
}

void ScreenProgrammerDialog::SetStatus(const wxString& text)
{
    statusText->SetLabel(text);
    sizer->Layout();
}

void ShowScreenProgrammer(wxWindow* parent, const std::vector<unsigned char>& message)
{
    ScreenProgrammerDialog dialog(parent);
    dialog.SetMessage(message);
    dialog.ShowModal();
}
