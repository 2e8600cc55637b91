// Open, Save and Save As of the main window in a real X server, with the
// file dialogs and message boxes answered by the test.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <optional>
#include <sched.h>
#include <set>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/filefn.h>
#include <wx/intl.h>
#include <wx/testing.h>

#include "app/MainFrame.h"
#include "files/FileName.h"
#include "files/SettingsFile.h"
#include "tests/files/RootNamespace.h"
#include "tests/files/SettingsFileSamples.h"
#include "tests/support/GuiTest.h"

namespace fs = std::filesystem;
using guitest::ExpectMessageBox;

namespace {

const wxString kWildcard = "Dravik files (*.dvk)|*.dvk|All files (*.*)|*.*";

// Expects one of the program's file dialogs: checks what it shows, then
// answers it with path and id.
class ExpectFileDialog : public wxExpectModalBase<wxFileDialog, ExpectFileDialog> {
public:
    ExpectFileDialog(bool save, const wxString& defaultName, const wxString& answerPath, int id = wxID_OK)
        : save(save), defaultName(defaultName), answerPath(answerPath), id(id)
    { }

    ExpectFileDialog WithHiddenMainWindow() const
    {
        ExpectFileDialog copy = *this;
        copy.hiddenMainWindow = true;
        return copy;
    }

protected:
    int OnInvoked(wxFileDialog* dialog) const override
    {
        EXPECT_EQ(dialog->GetMessage(),
                  save ? _("Please select the file to save") : _("Please select the file to open"));
        EXPECT_EQ(dialog->GetWildcard(), wxGetTranslation(kWildcard));
        EXPECT_EQ(dialog->GetWindowStyle() & (wxFD_OPEN | wxFD_SAVE | wxFD_OVERWRITE_PROMPT | wxFD_FILE_MUST_EXIST),
                  save ? wxFD_SAVE : wxFD_OPEN);
        EXPECT_EQ(dialog->GetFilename(), defaultName);
        EXPECT_EQ(dialog->GetDirectory(), wxString());
        // The parent is the main window; while that is hidden (at start-up)
        // the toolkit gives the dialog no parent.
        MainFrame* mainWindow = nullptr;
        for (wxWindow* window : wxTopLevelWindows)
            if (auto* frame = dynamic_cast<MainFrame*>(window))
                mainWindow = frame;
        EXPECT_NE(mainWindow, nullptr);
        if (mainWindow) {
            EXPECT_EQ(mainWindow->IsShown(), !hiddenMainWindow);
            EXPECT_EQ(dialog->GetParent(), hiddenMainWindow ? nullptr : mainWindow);
        }
        // An open chooser gives no path for a file that does not exist.
        if (answerPath.empty() || (!save && !wxFileExists(answerPath))) {
            dialog->SetPath(answerPath);
        } else {
            guitest::SetDialogPath(dialog, answerPath);
            EXPECT_EQ(dialog->GetPath(), answerPath);
        }
        return id;
    }

private:
    bool save;
    wxString defaultName;
    wxString answerPath;
    int id;
    bool hiddenMainWindow = false;
};

// While it lives, any modal dialog fails the test and is answered Cancel.
class NoDialogExpected : public wxModalDialogHook {
public:
    NoDialogExpected() { Register(); }
    ~NoDialogExpected() override { Unregister(); }

protected:
    int Enter(wxDialog* dialog) override
    {
        ADD_FAILURE() << "unexpected dialog \"" << dialog->GetTitle() << "\"";
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override { }
};

ExpectMessageBox OpenErrorBox()
{
    return ExpectMessageBox("Error opening file. Possible data corruption. Please verify values.", "Open file error",
                            wxOK | wxICON_ERROR, wxID_OK);
}

ExpectMessageBox SaveErrorBox()
{
    return ExpectMessageBox("Error saving file. The settings were not saved.", "Save file error", wxOK | wxICON_ERROR,
                            wxID_OK);
}

ExpectMessageBox SaveBeforeOpening(int answer)
{
    return ExpectMessageBox("Save before opening?", "Save Settings?", wxYES_NO | wxCANCEL | wxICON_NONE, answer);
}

using samples::ReadBytes;

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    ASSERT_TRUE(samples::WriteBytes(path, bytes)) << path;
}

std::set<std::string> Entries(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

using rootns::kRootNote;

// Gives the file to another user, which needs root.
testing::AssertionResult GiveTo(const fs::path& path, uid_t owner, gid_t group)
{
    if (::chown(path.c_str(), owner, group) == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "cannot give " << path << " to another user: " << std::strerror(errno) << " ("
                                       << kRootNote << ")";
}

// While it lives, this thread acts as an ordinary user with root's user id:
// without the powers to override file permissions, to change owners, and to
// act on files it does not own.
class WithoutRootPowers {
public:
    WithoutRootPowers()
    {
        if (::syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        for (int power : {CAP_CHOWN, CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            lowered[0].effective &= ~(1u << power);
        active = ::syscall(SYS_capset, &header, lowered) == 0;
    }
    ~WithoutRootPowers()
    {
        if (active)
            ::syscall(SYS_capset, &header, saved);
    }
    bool Active() const { return active; }

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    bool active = false;
};

// A small memory file system mounted on a fresh folder for the test; needs
// root, and the test fails when it cannot be had.
class MountedTmpfs {
public:
    explicit MountedTmpfs(const fs::path& folder, const char* options) : path(folder)
    {
        fs::create_directories(path);
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, options) == 0)
            mounted = true;
        else
            error = std::strerror(errno);
    }
    ~MountedTmpfs()
    {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
    std::string Why() const { return "cannot mount a tmpfs (the test needs root): " + error + " (" + kRootNote + ")"; }
    bool ReadOnly()
    {
        if (::mount("tmpfs", path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0)
            return true;
        error = std::strerror(errno);
        return false;
    }
    // Fills the file system up with one file; true when no byte is left.
    bool Fill()
    {
        std::ofstream filler(path / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) { }
        filler.close();
        std::ofstream probe(path / "probe", std::ios::binary);
        const bool full = !(probe << 'x').flush();
        probe.close();
        fs::remove(path / "probe");
        return full;
    }

    fs::path path;
    bool mounted = false;
    std::string error;
};

class FileCommandsTest : public testing::Test {
protected:
    void SetUp() override { frame = guitest::CreateMainFrame(); }
    void TearDown() override
    {
        if (frame && !wxTheApp->IsScheduledForDestruction(frame))
            guitest::DestroyMainFrame(frame);
        guitest::DeletePendingWindows();
    }

    fs::path Folder() const { return fs::path(folder.Path().utf8_string()); }
    fs::path File(const char* name) const { return fs::path(folder.File(name).utf8_string()); }

    void SetFields(const dvk::SettingTexts& texts)
    {
        for (int i = 0; i < dvk::SettingCount; ++i)
            frame->GetSettingField(static_cast<dvk::SettingIndex>(i))->SetValue(texts[i]);
    }

    // Fields set and marked modified, as after typing.
    void Edit(const dvk::SettingTexts& texts)
    {
        SetFields(texts);
        ASSERT_TRUE(frame->IsModified());
    }

    int SaveAs(const fs::path& path)
    {
        int result = -1;
        wxTEST_DIALOG(result = frame->SaveProgram(true),
                      ExpectFileDialog(true, frame->GetCurrentFileName(), wxString::FromUTF8(path.string())));
        return result;
    }

    // Opens with the modified flag clear (no save prompt) and the given boxes.
    int OpenClean(const fs::path& path)
    {
        frame->SetSaveStatus(false);
        int result = -1;
        wxTEST_DIALOG(result = frame->OpenProgram(),
                      ExpectFileDialog(false, wxString(), wxString::FromUTF8(path.string())));
        return result;
    }

    int OpenFailing(const fs::path& path)
    {
        frame->SetSaveStatus(false);
        int result = -1;
        wxTEST_DIALOG(result = frame->OpenProgram(),
                      ExpectFileDialog(false, wxString(), wxString::FromUTF8(path.string())), OpenErrorBox());
        return result;
    }

    static dvk::SettingTexts Texts(const wchar_t* all)
    {
        dvk::SettingTexts texts;
        texts.fill(all);
        return texts;
    }

    guitest::TemporaryConfig config;
    guitest::TemporaryDir folder;
    MainFrame* frame = nullptr;
};

TEST_F(FileCommandsTest, SavesTheExampleByteForByteAndReadsItBack)
{
    Edit(samples::kExampleTexts);
    const fs::path path = File("example.dvk");
    ASSERT_EQ(SaveAs(path), 1);
    EXPECT_EQ(ReadBytes(path), samples::kExampleFile);
    EXPECT_EQ(fs::file_size(path), 257u);
    EXPECT_FALSE(frame->IsModified());
    EXPECT_EQ(frame->GetTitle(), "Dravik Embosser Controller");
    EXPECT_EQ(frame->GetCurrentFileName(), "example.dvk");
    EXPECT_EQ(frame->GetCurrentFilePath(), wxString::FromUTF8(path.string()));
    EXPECT_EQ(Entries(Folder()), std::set<std::string>{"example.dvk"});

    // Overwritten, then opened again: the example's texts come back.
    Edit(Texts(L"1"));
    int result = -1;
    wxTEST_DIALOG(result = frame->OpenProgram(), SaveBeforeOpening(wxID_NO),
                  ExpectFileDialog(false, wxString(), wxString::FromUTF8(path.string())));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(frame->GetSettingTexts(), samples::kExampleTexts);
    EXPECT_FALSE(frame->IsModified());
    EXPECT_EQ(frame->GetTitle(), "Dravik Embosser Controller");
    EXPECT_EQ(ReadBytes(path), samples::kExampleFile) << "No in the prompt must not save";
}

TEST_F(FileCommandsTest, SavesFieldTextsAsNumbers)
{
    dvk::SettingTexts texts = samples::kExampleTexts;
    texts[dvk::StampCurrent] = L"007";
    texts[dvk::StampTimeout] = L"";
    texts[dvk::StampDelay] = L"-1";
    Edit(texts);
    const fs::path path = File("numbers.dvk");
    ASSERT_EQ(SaveAs(path), 1);
    EXPECT_NE(ReadBytes(path).find("<Stamp current=\"7\" timeout=\"0\" delay=\"4294967295\"/>\r\n"), std::string::npos);

    SetFields(Texts(L"x"));
    ASSERT_EQ(OpenClean(path), 1);
    EXPECT_EQ(frame->GetSettingField(dvk::StampCurrent)->GetValue(), "7");
    EXPECT_EQ(frame->GetSettingField(dvk::StampTimeout)->GetValue(), "0");
    EXPECT_EQ(frame->GetSettingField(dvk::StampDelay)->GetValue(), "4294967295");
}

TEST_F(FileCommandsTest, SaveAppendsDvkOnlyWhenNoCaseOfTheExtensionIsThere)
{
    Edit(samples::kExampleTexts);
    ASSERT_EQ(SaveAs(File("settings")), 1);
    EXPECT_EQ(frame->GetCurrentFileName(), "settings");
    EXPECT_EQ(frame->GetCurrentFilePath(), wxString::FromUTF8(File("settings.dvk").string()));
    EXPECT_EQ(ReadBytes(File("settings.dvk")), samples::kExampleFile);

    // The extension in any case is kept as typed.
    ASSERT_EQ(SaveAs(File("TEST2.DVK")), 1);
    EXPECT_EQ(frame->GetCurrentFileName(), "TEST2.DVK");
    ASSERT_EQ(SaveAs(File("other.Dvk")), 1);
    EXPECT_EQ(Entries(Folder()), (std::set<std::string>{"settings.dvk", "TEST2.DVK", "other.Dvk"}));

    // Save As onto an existing file replaces it without a question.
    Edit(Texts(L"5"));
    ASSERT_EQ(SaveAs(File("settings.dvk")), 1);
    EXPECT_NE(ReadBytes(File("settings.dvk")).find("current=\"5\""), std::string::npos);

    // Save with a known path shows no dialog.
    Edit(Texts(L"6"));
    int result = -1;
    {
        NoDialogExpected none;
        result = frame->SaveProgram(false);
    }
    EXPECT_EQ(result, 1);
    EXPECT_NE(ReadBytes(File("settings.dvk")).find("current=\"6\""), std::string::npos);
}

TEST_F(FileCommandsTest, SaveWritesBackToTheFileOpenedWhateverItsName)
{
    // Another extension; the byte FF beside its look-alike U+00FF, named as
    // the command line names it (the file dialogs' names, as the toolkit
    // converts them, match).
    const std::string named = (Folder() / "\xFF.dvk").string(), alike = (Folder() / "\xC3\xBF.dvk").string();
    EXPECT_EQ(wxString(named.c_str(), *wxConvFileName), FileNameFromBytes(named));
    for (const std::string& path : {File("old.xml").string(), named, alike})
        WriteBytes(path, samples::kExampleFile);
    ASSERT_EQ(OpenClean(File("old.xml")), 1);
    EXPECT_EQ(frame->GetCurrentFileName(), "old.xml");
    NoDialogExpected none;
    Edit(Texts(L"9"));
    EXPECT_EQ(frame->SaveProgram(false), 1);
    EXPECT_EQ(file_commands::OpenProgramAt(*frame, FileNameFromBytes(named)), 1);
    Edit(Texts(L"2"));
    EXPECT_EQ(frame->SaveProgram(false), 1);
    EXPECT_EQ(ReadBytes(File("old.xml")), dvk::FormatSettingsFile(Texts(L"9")));
    EXPECT_EQ(ReadBytes(named), dvk::FormatSettingsFile(Texts(L"2")));
    EXPECT_EQ(ReadBytes(alike), samples::kExampleFile);
    EXPECT_EQ(Entries(Folder()), (std::set<std::string>{"old.xml", "\xFF.dvk", "\xC3\xBF.dvk"}));
}

TEST_F(FileCommandsTest, CancelledDialogsChangeNothing)
{
    Edit(Texts(L"3"));
    int result = -1;
    wxTEST_DIALOG(result = frame->SaveProgram(false), ExpectFileDialog(true, wxString(), wxString(), wxID_CANCEL));
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(frame->IsModified());
    EXPECT_TRUE(frame->GetCurrentFilePath().empty());

    // The close flow's Yes saves; a cancelled save keeps the window open.
    wxTEST_DIALOG(frame->Close(), guitest::SaveBeforeExiting(wxID_YES),
                  ExpectFileDialog(true, wxString(), wxString(), wxID_CANCEL));
    EXPECT_FALSE(wxTheApp->IsScheduledForDestruction(frame));

    // Save before opening: Cancel stops before the open dialog; Yes with a
    // cancelled save dialog too.
    wxTEST_DIALOG(result = frame->OpenProgram(), SaveBeforeOpening(wxID_CANCEL));
    EXPECT_EQ(result, 0);
    wxTEST_DIALOG(result = frame->OpenProgram(), SaveBeforeOpening(wxID_YES),
                  ExpectFileDialog(true, wxString(), wxString(), wxID_CANCEL));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(frame->GetSettingTexts(), Texts(L"3"));
    EXPECT_TRUE(frame->IsModified());
}

TEST_F(FileCommandsTest, SaveBeforeOpeningAndBeforeClosingWrites)
{
    const fs::path first = File("first.dvk");
    const fs::path second = File("second.dvk");
    WriteBytes(second, samples::kExampleFile);
    Edit(Texts(L"4"));
    ASSERT_EQ(SaveAs(first), 1);

    // Yes saves to the current file, then the chosen file is opened.
    Edit(Texts(L"8"));
    int result = -1;
    wxTEST_DIALOG(result = frame->OpenProgram(), SaveBeforeOpening(wxID_YES),
                  ExpectFileDialog(false, wxString(), wxString::FromUTF8(second.string())));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadBytes(first), dvk::FormatSettingsFile(Texts(L"8")));
    EXPECT_EQ(frame->GetSettingTexts(), samples::kExampleTexts);
    EXPECT_EQ(frame->GetCurrentFileName(), "second.dvk");

    // The close flow's Yes saves, then the window goes.
    Edit(Texts(L"2"));
    wxTEST_DIALOG(frame->Close(), guitest::SaveBeforeExiting(wxID_YES));
    EXPECT_TRUE(wxTheApp->IsScheduledForDestruction(frame));
    EXPECT_EQ(ReadBytes(second), dvk::FormatSettingsFile(Texts(L"2")));
}

TEST_F(FileCommandsTest, BadFilesAreReportedAndApplyOnlyWhatCameFirst)
{
    const dvk::SettingTexts before = Texts(L"1");
    struct Case {
        const char* name;
        std::string bytes;
        int applied;  // settings, in canonical order, taken from the file
    };
    const Case cases[] = {
        {"foo.dvk", samples::Replace(samples::kExampleFile, "\t<StampReturn", "\t<Foo/>\r\n\t<StampReturn"), 3},
        {"nodelay.dvk",
         samples::Replace(samples::kExampleFile, " delay=\"40\"/>\r\n\t<StampReturn", "/>\r\n\t<StampReturn"), 2},
        {"declaration.dvk", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + samples::kExampleFile, 0},
        {"latin1.dvk",
         samples::Replace(samples::kExampleFile, "delay=\"40\"/>\r\n\t<StampReturn",
                          "delay=\"4\xE9\"/>\r\n\t<StampReturn"),
         2},
        {"nul.dvk",
         samples::Replace(samples::kExampleFile, "delay=\"40\"/>\r\n\t<StampReturn",
                          std::string("delay=\"4") + '\0' + " 0\"/>\r\n\t<StampReturn"),
         2},
        {"large.dvk", samples::kExampleFile + std::string(dvk::kMaxSettingsFileBytes, '\n'), 0},
        {"empty.dvk", "", 0},
        {"missing.dvk", "", 0},  // not written
        {"pipe.dvk", "", 0},     // a named pipe that nothing writes to
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "pipe.dvk")
            ASSERT_EQ(::mkfifo(File(c.name).c_str(), 0600), 0);
        else if (std::string(c.name) != "missing.dvk")
            WriteBytes(File(c.name), c.bytes);
        SetFields(before);
        EXPECT_EQ(OpenFailing(File(c.name)), 0);
        dvk::SettingTexts expected = before;
        for (int i = 0; i < c.applied; ++i)
            expected[i] = samples::kExampleTexts[i];
        EXPECT_EQ(frame->GetSettingTexts(), expected);
        EXPECT_TRUE(frame->GetCurrentFileName().empty());
        EXPECT_TRUE(frame->GetCurrentFilePath().empty());
        EXPECT_FALSE(frame->IsModified());
    }
}

TEST_F(FileCommandsTest, OpensFilesWrittenWithOtherWhitespace)
{
    const std::string variants[] = {samples::WithLineEnds(samples::kExampleFile, "\n"),
                                    samples::IndentedWithSpaces(samples::kExampleFile),
                                    "\xEF\xBB\xBF" + samples::kExampleFile};
    for (const std::string& bytes : variants) {
        WriteBytes(File("variant.dvk"), bytes);
        SetFields(Texts(L""));
        EXPECT_EQ(OpenClean(File("variant.dvk")), 1);
        EXPECT_EQ(frame->GetSettingTexts(), samples::kExampleTexts);
    }
}

TEST_F(FileCommandsTest, SaveIntoAReadOnlyFolderIsReportedAndKeepsTheOldFile)
{
    MountedTmpfs mount(File("readonly"), "size=64k");
    ASSERT_TRUE(mount.mounted) << mount.Why();
    const fs::path path = mount.path / "settings.dvk";
    WriteBytes(path, samples::kExampleFile);
    ASSERT_TRUE(mount.ReadOnly()) << "cannot remount read-only: " << mount.error;

    Edit(Texts(L"7"));
    int result = -1;
    wxTEST_DIALOG(result = frame->SaveProgram(true),
                  ExpectFileDialog(true, wxString(), wxString::FromUTF8(path.string())), SaveErrorBox());
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(frame->IsModified());
    EXPECT_EQ(frame->GetTitle(), "Dravik Embosser Controller*");
    EXPECT_EQ(frame->GetCurrentFilePath(), wxString::FromUTF8(path.string()));
    EXPECT_EQ(ReadBytes(path), samples::kExampleFile);
    EXPECT_EQ(Entries(mount.path), std::set<std::string>{"settings.dvk"});

    // Opening first asks to save; the failed save stops the Open.
    wxTEST_DIALOG(result = frame->OpenProgram(), SaveBeforeOpening(wxID_YES), SaveErrorBox());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(frame->GetSettingTexts(), Texts(L"7"));
    EXPECT_TRUE(frame->IsModified());
}

TEST_F(FileCommandsTest, SaveOnAFullDiskKeepsThePreviousFileByteForByte)
{
    MountedTmpfs mount(File("full"), "size=32k");
    ASSERT_TRUE(mount.mounted) << mount.Why();
    const fs::path path = mount.path / "settings.dvk";
    Edit(samples::kExampleTexts);
    ASSERT_EQ(SaveAs(path), 1);
    ASSERT_TRUE(mount.Fill()) << "the file system did not fill up";

    Edit(Texts(L"12345"));
    int result = -1;
    wxTEST_DIALOG(result = frame->SaveProgram(false), SaveErrorBox());
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(frame->IsModified());
    EXPECT_EQ(ReadBytes(path), samples::kExampleFile);
    EXPECT_EQ(Entries(mount.path), (std::set<std::string>{"filler", "settings.dvk"}));

    // The close flow stays open when the save fails.
    wxTEST_DIALOG(frame->Close(), guitest::SaveBeforeExiting(wxID_YES), SaveErrorBox());
    EXPECT_FALSE(wxTheApp->IsScheduledForDestruction(frame));
    EXPECT_EQ(ReadBytes(path), samples::kExampleFile);
}

TEST_F(FileCommandsTest, SaveRefusesWhatItMustNotReplace)
{
    struct Case {
        const char* name;
        mode_t mode;     // 0 for a named pipe
        bool otherUser;  // the file belongs to another user
        bool rootPowers;
    };
    const Case cases[] = {
        {"readonly.dvk", 0444, false, true},
        {"readonly-own.dvk", 0444, false, false},
        {"pipe.dvk", 0, false, true},
        {"others.dvk", 0644, true, false},
    };
    Edit(Texts(L"7"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = File(c.name);
        if (c.mode == 0) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            WriteBytes(path, samples::kExampleFile);
            ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        }
        if (c.otherUser) {
            ASSERT_TRUE(GiveTo(path, 1234, 1234));
        }
        int result = -1;
        {
            std::optional<WithoutRootPowers> plain;
            if (!c.rootPowers) {
                ASSERT_TRUE(plain.emplace().Active());
            }
            wxTEST_DIALOG(result = frame->SaveProgram(true),
                          ExpectFileDialog(true, frame->GetCurrentFileName(), wxString::FromUTF8(path.string())),
                          SaveErrorBox());
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(frame->IsModified());
        if (c.mode == 0)
            EXPECT_TRUE(fs::is_fifo(path));
        else
            EXPECT_EQ(ReadBytes(path), samples::kExampleFile);
        fs::remove(path);
        EXPECT_TRUE(Entries(Folder()).empty());
    }
}

TEST_F(FileCommandsTest, SaveKeepsOwnerGroupAndModeOfAnotherUsersFile)
{
    const fs::path path = File("theirs.dvk");
    WriteBytes(path, samples::kExampleFile);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(GiveTo(path, 1234, 2345));
    Edit(Texts(L"5"));
    ASSERT_EQ(SaveAs(path), 1);
    EXPECT_EQ(ReadBytes(path), dvk::FormatSettingsFile(Texts(L"5")));
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 1234u);
    EXPECT_EQ(status.st_gid, 2345u);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(Folder()), std::set<std::string>{"theirs.dvk"});
}

TEST_F(FileCommandsTest, SaveInAFolderThatCannotBeWrittenWritesTheFileInPlace)
{
    const fs::path locked = File("locked");
    fs::create_directory(locked);
    const fs::path path = locked / "settings.dvk";
    WriteBytes(path, samples::kExampleFile);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    ::setenv("XDG_DATA_HOME", File("data").c_str(), 1);  // the backup goes there, and away once saved
    Edit(Texts(L"3"));
    WithoutRootPowers plain;
    ASSERT_TRUE(plain.Active());
    ASSERT_EQ(SaveAs(path), 1);
    EXPECT_TRUE(fs::is_empty(File("data") / "dravik"));
    EXPECT_EQ(ReadBytes(path), dvk::FormatSettingsFile(Texts(L"3")));
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_FALSE(frame->IsModified());

    // A new file cannot be made there.
    Edit(Texts(L"4"));
    int result = -1;
    wxTEST_DIALOG(result = frame->SaveProgram(true),
                  ExpectFileDialog(true, "settings.dvk", wxString::FromUTF8((locked / "new.dvk").string())),
                  SaveErrorBox());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Entries(locked), std::set<std::string>{"settings.dvk"});
}

TEST_F(FileCommandsTest, SaveThroughALinkToAnotherFileSystemKeepsTheLink)
{
    MountedTmpfs mount(File("elsewhere"), "size=64k");
    ASSERT_TRUE(mount.mounted) << mount.Why();
    const fs::path real = mount.path / "settings.dvk";
    const fs::path link = File("link.dvk");
    WriteBytes(real, samples::kExampleFile);
    fs::create_symlink(real, link);

    Edit(Texts(L"6"));
    ASSERT_EQ(SaveAs(link), 1);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), dvk::FormatSettingsFile(Texts(L"6")));
    EXPECT_EQ(Entries(mount.path), std::set<std::string>{"settings.dvk"});
    EXPECT_EQ(Entries(Folder()), (std::set<std::string>{"elsewhere", "link.dvk"}));
}

TEST(FileCommandsStartUp, TheOpenDialogComesBeforeTheWindowIsShown)
{
    guitest::TemporaryConfig config;
    guitest::TemporaryDir folder;
    const fs::path path(folder.File("start.dvk").utf8_string());
    WriteBytes(path, samples::kExampleFile);

    MainFrame* frame = nullptr;
    wxTEST_DIALOG(frame = new MainFrame(wxString(), guitest::NoControllers()),
                  ExpectFileDialog(false, wxString(), wxString::FromUTF8(path.string())).WithHiddenMainWindow());
    EXPECT_EQ(frame->GetSettingTexts(), samples::kExampleTexts);
    EXPECT_FALSE(frame->IsModified());
    EXPECT_EQ(frame->GetTitle(), "Dravik Embosser Controller");
    EXPECT_EQ(frame->GetCurrentFileName(), "start.dvk");
    guitest::DestroyMainFrame(frame);
}

}  // namespace
