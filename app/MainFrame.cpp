#include "app/MainFrame.h"

#include <algorithm>
#include <utility>

#include <wx/config.h>
#include <wx/display.h>
#include <wx/icon.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include "app/AboutDlg.h"
#include "app/dravik.xpm"
#include "core/Version.h"
#include "screen/ProgrammingMessage.h"
#include "screen/ScreenProgrammerDialog.h"
#include "usb/USBProgrammerDialog.h"

namespace {
const wxString kTitle = "Dravik Embosser Controller";
// The window's size at 100 % and normal text, in device-independent pixels.
const wxSize kWindowSize(380, 310);
// How long the window's size must stay unchanged to count as settled.
constexpr int kSettleTime = 100;  // ms
// How long after showing a window manager may still be placing the window.
constexpr std::chrono::seconds kPlacingTime(2);
const wxString kConfigPath = "/DravikControls/38417";
// Not written by earlier versions: absent means not maximised.
const wxString kMaximizedKey = "Maximized";
}  // namespace

MainFrame::MainFrame(const wxString& settingsFile, usb_dvk::Platform& usbPlatform)
    : MainFrameBase(nullptr, wxID_ANY, kTitle, wxDefaultPosition, wxWindow::FromDIP(kWindowSize, nullptr),
                    wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL),
      usbPlatform(usbPlatform)
{
    currentFileName.clear();
    currentFilePath.clear();

    SetIcon(wxIcon(dravik_xpm));

    SetSize(FromDIP(kWindowSize));
    KeepLayoutWhole();
    placedSize = GetSize();
    normalPlacement = wxRect(GetPosition(), ToDIP(GetSize()));
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        RememberNormalPlacement();
        // GTK applies a changed font to a control's measures only when it
        // next lays the window out, and the toolkit then sends this event:
        // the layout may need more room than when the font was set.
        if (GetSizer()->ComputeFittingClientSize(this) != fittedClientSize)
            CallAfter([this] { FitToFont(); });
        // A window manager's frame, once it is known, takes its room from
        // the window's size; the window passes through passing sizes while
        // the manager places it. Looked at once the sizes have settled.
        settleTimer.StartOnce(kSettleTime);
        event.Skip();
    });
    settleTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
        const wxSize needed = GetSizer()->ComputeFittingClientSize(this), client = GetClientSize();
        // Grown from the size the window was given, not from a passing one.
        if (client.x < needed.x || client.y < needed.y)
            KeepLayoutWhole(placedSize);
    });
    Bind(wxEVT_MOVE, [this](wxMoveEvent& event) {
        // A window manager may place a new window where it likes rather
        // than at the stored position: that is asked for once more.
        if (positionWhenPlaced && IsShown()) {
            const bool elsewhere = GetPosition() != *positionWhenPlaced && !IsMaximized() && !IsFullScreen();
            if (std::chrono::steady_clock::now() >= placedBy)
                positionWhenPlaced.reset();
            else if (elsewhere)
                CallAfter([this, position = *std::exchange(positionWhenPlaced, std::nullopt)] { Move(position); });
        }
        RememberNormalPlacement();
        event.Skip();
    });
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        if (event.IsShown()) {
            placedBy = std::chrono::steady_clock::now() + kPlacingTime;
            if (std::exchange(maximizeWhenShown, false))
                Maximize();
        }
        event.Skip();
    });
    // The toolkit scales sizes and borders by the ratio of the two DPIs and
    // then resizes the window; the fonts do not grow in that ratio exactly.
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        CallAfter([this] { FitToFont(); });
        event.Skip();
    });

    // The keystroke filter: digits and + , - . e E; control and navigation
    // keys and shortcuts pass. The whole-value check is never run.
    const NumericKeyFilter numeric;
    for (wxTextCtrl* field : settingFields) {
        field->SetValidator(numeric);
        field->Bind(wxEVT_TEXT, &MainFrame::OnSettingEdited, this);
    }

    LoadConfig();
    SetSaveStatus(false);
    if (settingsFile.empty())
        OpenProgram();
    else
        file_commands::OpenProgramAt(*this, settingsFile);
}

dvk::SettingTexts MainFrame::GetSettingTexts() const
{
    dvk::SettingTexts texts;
    for (int i = 0; i < dvk::SettingCount; ++i)
        texts[i] = settingFields[i]->GetValue().ToStdWstring();
    return texts;
}

void MainFrame::SetSettingText(dvk::SettingIndex setting, const wxString& text)
{
    settingFields[setting]->SetValue(text);
}

void MainFrame::SetCurrentFile(const wxString& name, const wxString& path)
{
    currentFileName = name;
    currentFilePath = path;
}

bool MainFrame::IsProgramValid()
{
    const auto invalid = dvk::FirstInvalidSetting(GetSettingTexts());
    if (!invalid)
        return true;
    wxMessageDialog box(this, wxGetTranslation(dvk::kSettings[*invalid].invalidMessage), _("Invalid Setting"),
                        wxOK | wxICON_ERROR);
    box.ShowModal();
    return false;
}

void MainFrame::SetSaveStatus(bool isModified)
{
    modified = isModified;
    SetTitle(modified ? kTitle + "*" : kTitle);
}

void MainFrame::OnSettingEdited(wxCommandEvent& event)
{
    // Text put into a field by the program (opening a file) also arrives
    // here; the file command clears the flag once all fields are set.
    if (!modified)
        SetSaveStatus(true);
    event.Skip();
}

void MainFrame::FitToFont()
{
    FitFieldsToFont();
    KeepLayoutWhole();
}

void MainFrame::KeepLayoutWhole(wxSize atLeast)
{
    fittedClientSize = GetSizer()->ComputeFittingClientSize(this);
    const wxSize needed = GetSizer()->ComputeFittingWindowSize(this);
    SetMinSize(needed);
    if (!IsMaximized() && !IsFullScreen()) {
        wxSize size = GetSize();
        size.IncTo(atLeast);
        size.IncTo(needed);
        if (size != GetSize())
            SetSize(size);
    }
    Layout();
}

void MainFrame::RememberNormalPlacement()
{
    if (!IsMaximized() && !IsIconized() && !IsFullScreen())
        normalPlacement = wxRect(GetPosition(), ToDIP(GetSize()));
}

// Width and Height are stored in device-independent pixels, so that the
// window keeps its size on a display of another scale; the position is in
// screen pixels.
void MainFrame::LoadConfig()
{
    wxConfigBase* config = wxConfigBase::Get();
    config->SetPath(kConfigPath);
    long width = 0, height = 0, x = 0, y = 0;
    if (!(config->Read("Width", &width) && config->Read("Height", &height) && config->Read("PosX", &x) &&
          config->Read("PosY", &y)))
        return;
    long maximized = 0;
    config->Read(kMaximizedKey, &maximized, 0L);

    // The display the stored rectangle lies on most; none when it lies on
    // no display any more (a monitor since unplugged).
    const wxRect stored(x, y, width, height);
    int display = wxNOT_FOUND;
    long long most = 0;
    for (unsigned i = 0; i < wxDisplay::GetCount(); ++i) {
        const wxRect common = wxDisplay(i).GetGeometry().Intersect(stored);
        const long long covered = common.IsEmpty() ? 0 : 1LL * common.GetWidth() * common.GetHeight();
        if (covered > most) {
            most = covered;
            display = static_cast<int>(i);
        }
    }
    // Moved first, so that the size is taken at the DPI of the display that
    // the window is on.
    if (display != wxNOT_FOUND)
        Move(x, y);
    const wxSize size = FromDIP(wxSize(width, height));
    SetSize(wxDefaultCoord, wxDefaultCoord, size.x, size.y);
    KeepLayoutWhole();

    // The window comes up whole within that display's work area (the
    // primary display's when it is on none): no larger, as far as its
    // layout allows, and moved in where it reaches out, so that its title
    // bar is on the display; on no display, centred.
    const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    wxSize fitted = GetSize();
    fitted.DecTo(area.GetSize());
    fitted.IncTo(GetMinSize());
    wxRect placed(GetPosition(), fitted);
    if (display == wxNOT_FOUND) {
        placed = placed.CentreIn(area);
    } else {
        placed.x = std::max(area.GetLeft(), std::min(placed.x, area.GetRight() + 1 - placed.width));
        placed.y = std::max(area.GetTop(), std::min(placed.y, area.GetBottom() + 1 - placed.height));
    }
    SetSize(placed);
    placedSize = placed.GetSize();
    normalPlacement = wxRect(placed.GetPosition(), ToDIP(placed.GetSize()));
    if (display != wxNOT_FOUND)
        positionWhenPlaced = placed.GetPosition();
    // Maximised once shown: a window maximised before it is first shown
    // returns from it to the size its layout needs, not to this placement.
    maximizeWhenShown = maximized != 0;
}

// A maximised or minimised window stores the rectangle it returns to.
void MainFrame::SaveConfig()
{
    wxConfigBase* config = wxConfigBase::Get();
    config->SetPath(kConfigPath);
    RememberNormalPlacement();
    config->Write("Width", static_cast<long>(normalPlacement.GetWidth()));
    config->Write("Height", static_cast<long>(normalPlacement.GetHeight()));
    config->Write("PosX", static_cast<long>(normalPlacement.GetX()));
    config->Write("PosY", static_cast<long>(normalPlacement.GetY()));
    config->Write(kMaximizedKey, IsMaximized() || maximizeWhenShown ? 1L : 0L);
}

void MainFrame::OnClose(wxCloseEvent&)
{
    SaveConfig();
    if (!modified) {
        Destroy();
        return;
    }
    wxMessageDialog box(this, _("Save before exiting?"), _("Save Settings?"),
                        wxYES_NO | wxCANCEL | wxYES_DEFAULT | wxICON_NONE);
    switch (box.ShowModal()) {
    case wxID_YES:
        if (SaveProgram(false) == 1)
            Destroy();
        break;
    case wxID_NO: Destroy(); break;
    default: break;  // the window stays open
    }
}

void MainFrame::OnExit(wxCommandEvent&)
{
    Close(true);
}

void MainFrame::OnAbout(wxCommandEvent&)
{
    // The product's name and its address stay as they are in every language.
    const wxString text =
        kTitle + "\n" + wxString::Format(_("Version %s"), DVK_VERSION) + "\nwww.dravik-controls.example";
    AboutDlg box(this, wxID_ANY, _("Dravik - About"), text);
    box.ShowModal();
}

void MainFrame::OnOpen(wxCommandEvent&)
{
    OpenProgram();
}
void MainFrame::OnSave(wxCommandEvent&)
{
    SaveProgram(false);
}
void MainFrame::OnSaveAs(wxCommandEvent&)
{
    SaveProgram(true);
}

int MainFrame::OpenProgram()
{
    return file_commands::OpenProgram(*this);
}

int MainFrame::SaveProgram(bool saveAs)
{
    return file_commands::SaveProgram(*this, saveAs);
}

void MainFrame::ComputeMessage(std::vector<unsigned char>& message)
{
    dvk::AppendProgrammingMessage(GetSettingTexts(), message);
}

bool CheckMessageSize(wxWindow* parent, const std::vector<unsigned char>& message)
{
    if (message.size() <= dvk::kDeviceMemoryBytes)
        return true;
    wxMessageDialog box(parent, _("Program size exceeds device memory."), _("Programming - Error"),
                        wxOK | wxICON_ERROR);
    box.ShowModal();
    return false;
}

void MainFrame::OnProgram(wxCommandEvent&)
{
    if (!IsProgramValid())
        return;  // the validation has shown its box
    std::vector<unsigned char> message;
    ComputeMessage(message);
    if (CheckMessageSize(this, message))
        ShowScreenProgrammer(this, message);
}

// No validation on this road: the message is built from the fields as they
// stand.
void MainFrame::OnUSBProgram(wxCommandEvent&)
{
    std::vector<unsigned char> message;
    ComputeMessage(message);
    if (CheckMessageSize(this, message))
        ShowUSBProgrammer(this, message, usbPlatform);
}
