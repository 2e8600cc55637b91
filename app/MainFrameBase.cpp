#include "app/MainFrameBase.h"

#include <algorithm>

#include <wx/intl.h>
#include <wx/utils.h>

#include "app/Separator.h"

namespace {
// Device-independent pixels: FromDIP gives the pixels at the window's DPI.
constexpr int kBorder = 5;
constexpr int kCurrentFieldWidth = 65;
}  // namespace

wxStaticText* MainFrameBase::AddLabel(wxSizer* grid, const wxString& text, int flags)
{
    // A label is single-line as made. Wrap(-1) would change nothing but
    // set the label again and measure it anew, a few milliseconds a label
    // under wine before the start-up dialog can come up.
    auto* label = new wxStaticText(panel, wxID_ANY, text, wxDefaultPosition, wxDefaultSize, 0);
    grid->Add(label, 0, flags, FromDIP(kBorder));
    return label;
}

wxTextCtrl* MainFrameBase::AddField(wxSizer* grid, dvk::SettingIndex setting, int flags)
{
    const int maxLength = dvk::kSettings[setting].maxInputLength;
    auto* field = new SettingField(panel, maxLength);
    // What a screen reader says for the field: its row and its column.
    field->SetName(wxGetTranslation(dvk::kSettings[setting].accessibleName));
    field->FitWidthToFont();
    grid->Add(field, 0, flags, FromDIP(kBorder));
    settingFields[setting] = field;
    return field;
}

void MainFrameBase::FitFieldsToFont()
{
    for (wxTextCtrl* field : settingFields)
        static_cast<SettingField*>(field)->FitWidthToFont();
}

bool IsShortcutKey(const wxKeyEvent& event)
{
    const int held = event.GetModifiers() & (wxMOD_ALT | wxMOD_CONTROL);
    return held == wxMOD_ALT || held == wxMOD_CONTROL;
}

namespace {
// A character that the user types, as opposed to a control or navigation
// key or a shortcut.
bool IsTypedCharacter(const wxKeyEvent& event)
{
    const int key = event.GetUnicodeKey();
    return key >= WXK_SPACE && key != WXK_DELETE && !IsShortcutKey(event);
}
}  // namespace

wxBEGIN_EVENT_TABLE(NumericKeyFilter, wxValidator) EVT_CHAR(NumericKeyFilter::OnChar) wxEND_EVENT_TABLE()

    void NumericKeyFilter::OnChar(wxKeyEvent& event)
{
    event.Skip();
    const int key = event.GetUnicodeKey();
    const bool numeric = (key >= '0' && key <= '9') || wxString("+,-.eE").Find(wxUniChar(key)) != wxNOT_FOUND;
    if (numeric || !IsTypedCharacter(event))
        return;
    if (!IsSilent())
        wxBell();
    event.Skip(false);
}

SettingField::SettingField(wxWindow* parent, int maxLength)
    : wxTextCtrl(parent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0), limit(maxLength)
{
    if (limit > 0)
        Bind(wxEVT_CHAR, &SettingField::OnChar, this);
}

// A field with a typing limit is 65 wide (more only for large text), the
// others no narrower than five digits. Measured before GTK has laid the
// field out, which leaves out some of its inner margin: one digit more
// makes up for it (seen where the column's label is narrower than the field,
// as in Japanese).
void SettingField::FitWidthToFont()
{
    const wxString widest(wxUniChar('8'), limit > 0 ? limit : 6);
    const int needed = GetSizeFromTextSize(GetTextExtent(widest)).x;
    const wxSize size(limit > 0 ? std::max(FromDIP(kCurrentFieldWidth), needed) : needed, -1);
    SetMaxSize(wxDefaultSize);
    SetMinSize(size);
    if (limit > 0)
        SetMaxSize(size);
}

void SettingField::SetValue(const wxString& value)
{
    settingByProgram = true;
    wxTextCtrl::SetValue(value);
    settingByProgram = false;
    accepted = GetValue();
}

void SettingField::ChangeValue(const wxString& value)
{
    wxTextCtrl::ChangeValue(value);
    accepted = GetValue();
}

void SettingField::OnChar(wxKeyEvent& event)
{
    long from = 0, to = 0;
    GetSelection(&from, &to);
    if (IsTypedCharacter(event) && GetLastPosition() - (to - from) >= limit) {
        wxBell();
        return;
    }
    event.Skip();
}

bool SettingField::TryBefore(wxEvent& event)
{
    if (limit > 0 && event.GetEventType() == wxEVT_TEXT && !settingByProgram) {
        const wxString before = accepted;
        const wxString after = GetValue();
        const dvk::LimitedEdit edit = dvk::LimitEdit(before.ToStdWstring(), after.ToStdWstring(), limit);
        accepted = edit.text;
        if (edit.text != after.ToStdWstring()) {
            wxBell();
            ChangeValue(edit.text);
            // The toolkit may move the caret after its own insertion.
            const long caret = static_cast<long>(edit.caret);
            SetInsertionPoint(caret);
            CallAfter([this, caret] { SetInsertionPoint(caret); });
            if (accepted == before)
                return true;
        }
    }
    return wxTextCtrl::TryBefore(event);
}

MainFrameBase::MainFrameBase(wxWindow* parent, int id, const wxString& title, const wxPoint& pos, const wxSize& size,
                             long style)
    : wxFrame(parent, id, title, pos, size, style)
{
    SetSizeHints(wxDefaultSize, wxDefaultSize);
    const int border = FromDIP(kBorder);

    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* panelSizer = new wxBoxSizer(wxVERTICAL);

    // Grid A: Stamp, Stamp Return and Replace Die, each with current,
    // timeout and delay.
    auto* gridA = new wxFlexGridSizer(0, 4, 0, 0);
    gridA->AddGrowableCol(2);
    gridA->AddGrowableCol(3);
    gridA->SetFlexibleDirection(wxBOTH);
    gridA->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    AddLabel(gridA, wxEmptyString, wxALL);
    for (int column = dvk::StampCurrent; column <= dvk::StampDelay; ++column)
        AddLabel(gridA, wxGetTranslation(dvk::kSettings[column].columnLabel), wxALIGN_CENTER | wxALL);
    for (int first : {dvk::StampCurrent, dvk::StampReturnCurrent, dvk::ReplaceCurrent}) {
        AddLabel(gridA, wxGetTranslation(dvk::kSettings[first].rowLabel),
                 wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxALL);
        AddField(gridA, static_cast<dvk::SettingIndex>(first), wxALL);
        AddField(gridA, static_cast<dvk::SettingIndex>(first + 1), wxEXPAND | wxALL);
        AddField(gridA, static_cast<dvk::SettingIndex>(first + 2), wxEXPAND | wxALL);
    }
    // Expanding with centring: the grid fills the panel's width.
    panelSizer->Add(gridA, 0, wxEXPAND, border);

    separator = new wxStaticLine(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL);
    separator->SetMinSize(wxSize(wxDefaultCoord, SeparatorThickness(*separator)));
    panelSizer->Add(separator, 0, wxEXPAND | wxALL, border);

    // Grid B: the paper sensor's sensitivity and activate time.
    auto* gridB = new wxFlexGridSizer(0, 3, 0, 0);
    gridB->SetFlexibleDirection(wxBOTH);
    gridB->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    AddLabel(gridB, wxEmptyString, wxALL);
    AddLabel(gridB, wxGetTranslation(dvk::kSettings[dvk::PaperSensitivity].columnLabel), wxALL);
    AddLabel(gridB, wxGetTranslation(dvk::kSettings[dvk::PaperActivateTime].columnLabel), wxALIGN_CENTER | wxALL);
    // Right with horizontal centring: the label sits centred at the top of
    // its cell.
    AddLabel(gridB, wxGetTranslation(dvk::kSettings[dvk::PaperSensitivity].rowLabel),
             wxALIGN_CENTER_HORIZONTAL | wxALL);
    AddField(gridB, dvk::PaperSensitivity, wxALL);
    // Expanding with centring: the field fills its cell.
    AddField(gridB, dvk::PaperActivateTime, wxEXPAND | wxALL);
    panelSizer->Add(gridB, 0, wxALIGN_CENTER_HORIZONTAL, border);

    panelSizer->Add(0, 0, 1, wxEXPAND, border);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    usbProgramButton = new wxButton(panel, wxID_ANY, _("USB Program"));
    buttonRow->Add(usbProgramButton, 0, wxALL, border);
    programButton = new wxButton(panel, wxID_ANY, _("Program"));
    buttonRow->Add(programButton, 0, wxALL, border);
    buttonRow->Add(0, 0, 1, wxEXPAND, border);
    exitButton = new wxButton(panel, wxID_ANY, _("Exit"));
    buttonRow->Add(exitButton, 0, wxALL, border);
    panelSizer->Add(buttonRow, 0, wxEXPAND, border);

    panel->SetSizer(panelSizer);
    panel->Layout();
    panelSizer->Fit(panel);
    frameSizer->Add(panel, 1, wxEXPAND | wxALL, 0);
    SetSizer(frameSizer);
    Layout();

    menuBar = new wxMenuBar(0);
    fileMenu = new wxMenu();
    openItem = fileMenu->Append(wxID_ANY, _("&Open"));
    fileMenu->AppendSeparator();
    saveItem = fileMenu->Append(wxID_ANY, _("&Save"));
    saveAsItem = fileMenu->Append(wxID_ANY, _("Save &As"));
    fileMenu->AppendSeparator();
    exitItem = fileMenu->Append(wxID_ANY, _("E&xit"));
    menuBar->Append(fileMenu, _("&File"));
    helpMenu = new wxMenu();
    aboutItem = helpMenu->Append(wxID_ANY, _("&About"));
    menuBar->Append(helpMenu, _("&Help"));
    SetMenuBar(menuBar);

    WireEvents(true);
}

MainFrameBase::~MainFrameBase()
{
    WireEvents(false);
}

// Connects the handlers (or disconnects them again): the buttons' events on
// the buttons, with the frame as sink; the menu items' on the frame.
void MainFrameBase::WireEvents(bool connect)
{
    const auto wire = [this, connect](wxEvtHandler* source, int id, wxEventType type, wxObjectEventFunction handler) {
        if (connect)
            source->Connect(id, type, handler, nullptr, this);
        else
            source->Disconnect(id, type, handler, nullptr, this);
    };
    wire(this, wxID_ANY, wxEVT_CLOSE_WINDOW, wxCloseEventHandler(MainFrameBase::OnClose));
    wire(usbProgramButton, wxID_ANY, wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(MainFrameBase::OnUSBProgram));
    wire(programButton, wxID_ANY, wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(MainFrameBase::OnProgram));
    wire(exitButton, wxID_ANY, wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(MainFrameBase::OnExit));
    wire(this, openItem->GetId(), wxEVT_COMMAND_MENU_SELECTED, wxCommandEventHandler(MainFrameBase::OnOpen));
    wire(this, saveItem->GetId(), wxEVT_COMMAND_MENU_SELECTED, wxCommandEventHandler(MainFrameBase::OnSave));
    wire(this, saveAsItem->GetId(), wxEVT_COMMAND_MENU_SELECTED, wxCommandEventHandler(MainFrameBase::OnSaveAs));
    wire(this, exitItem->GetId(), wxEVT_COMMAND_MENU_SELECTED, wxCommandEventHandler(MainFrameBase::OnExit));
    wire(this, aboutItem->GetId(), wxEVT_COMMAND_MENU_SELECTED, wxCommandEventHandler(MainFrameBase::OnAbout));
}
