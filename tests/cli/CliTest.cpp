// dravik-cli's commands over the controller models: what each prints, on
// which stream, with which exit status.
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Cli.h"
#include "core/Version.h"
#include "tests/support/UsbTestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using usbtest::Config;

namespace {

// The worked example: Stamp 100/500/20, Stamp Return 80/600/30, Replace Die
// 200/1000/0, paper 128/250, and its message.
const std::array<std::string, 11> kExample = {"100", "500", "20", "80", "600", "30", "200", "1000", "0", "128", "250"};
const std::vector<unsigned char> kExampleMessage = {0x57, 0x14, 0x57, 0x9B, 0x01, 0xF4, 0x00, 0x14,
                                                    0xAF, 0x02, 0x58, 0x00, 0x1E, 0x37, 0x03, 0xE8,
                                                    0x00, 0x00, 0x80, 0x00, 0xFA, 0x67, 0x39};
const char kExampleHex[] = "57 14 57 9B 01 F4 00 14 AF 02 58 00 1E 37 03 E8 00 00 80 00 FA 67 39\n";

// A settings file holding the words as they stand (LF line ends).
std::string SettingsFile(const std::array<std::string, 11>& v)
{
    return "<Dravik_38417 version=\"100\">\n"
           "\t<Stamp current=\"" +
        v[0] + "\" timeout=\"" + v[1] + "\" delay=\"" + v[2] +
        "\"/>\n"
        "\t<StampReturn current=\"" +
        v[3] + "\" timeout=\"" + v[4] + "\" delay=\"" + v[5] +
        "\"/>\n"
        "\t<Replace current=\"" +
        v[6] + "\" timeout=\"" + v[7] + "\" delay=\"" + v[8] +
        "\"/>\n"
        "\t<PaperSensor sensitivity=\"" +
        v[9] + "\" activate=\"" + v[10] +
        "\"/>\n"
        "</Dravik_38417>\n";
}

// A clock that moves only when the program pauses.
struct FakeTime {
    std::chrono::steady_clock::time_point start{};
    std::chrono::steady_clock::time_point now{};
    int pauses = 0;
    std::function<void()> onPause;
    dvk_cli::Waiting Waiting()
    {
        return dvk_cli::Waiting{[this] { return now; },
                                [this](std::chrono::milliseconds pause) {
                                    now += pause;
                                    ++pauses;
                                    if (onPause)
                                        onPause();
                                }};
    }
};

struct Ran {
    int status;
    std::string out;
    std::string err;
};

class Cli : public usbtest::PlatformTest<usb_dvk::ModelPlatform> {
protected:
    void SetUp() override
    {
        // One thread drives the controllers: a silent one takes no real time.
        platform.UseSimulatedTime();
        std::string pattern = (fs::temp_directory_path() / "dvkcliXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        example = File("example.dvk", SettingsFile(kExample));
    }
    void TearDown() override { fs::remove_all(folder); }
    Ran Call(const std::vector<std::string>& args)
    {
        std::ostringstream out, err;
        const int status = dvk_cli::RunCli(args, out, err, time.Waiting(), platform);
        return Ran{status, out.str(), err.str()};
    }
    std::string File(const std::string& name, const std::string& bytes)
    {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    // A run that failed as bad input: status 2, nothing on standard output,
    // one line of diagnosis on standard error.
    static void ExpectBadInput(const Ran& run, const std::string& diagnosis)
    {
        EXPECT_EQ(run.status, dvk_cli::kBadInput);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, diagnosis + "\n");
    }

    fs::path folder;
    std::string example;
    FakeTime time;
    dvk_model::ControllerModel first{Config("X", "1.2", {0x00, 0x01, 0x02})};
    dvk_model::ControllerModel second{Config("DVK-2", "3.0", {0x7C, 0x77, 0x88})};
    dvk_model::ControllerModel third{Config("DVK-3", "1.0", {0xFE, 0xB0, 0xF0})};
};

}  // namespace

TEST_F(Cli, HelpVersionAndBadUsage)
{
    const Ran help = Call({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* line :
         {"\n  0  success", "\n  1  a controller failed", "\n  2  bad usage", "\n  3  no controller found"})
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    EXPECT_EQ(Call({"program", "--help"}).out, help.out);
    const Ran version = Call({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("dravik-cli ") + DVK_VERSION + "\n");

    platform.Plug("/dev/hidraw0", first);
    const std::string hint = " (see dravik-cli --help)";
    ExpectBadInput(Call({}), "dravik-cli: no command given" + hint);
    ExpectBadInput(Call({"frob"}), "dravik-cli: unknown command 'frob'" + hint);
    ExpectBadInput(Call({"list", "--all"}), "dravik-cli: unknown option '--all'" + hint);
    ExpectBadInput(Call({"list", "extra"}), "dravik-cli: unexpected argument 'extra'" + hint);
    ExpectBadInput(Call({"program"}), "dravik-cli: program needs a settings file" + hint);
    ExpectBadInput(Call({"message", "--json", example}), "dravik-cli: --json does not apply to message" + hint);
    ExpectBadInput(Call({"list", "--no-check"}), "dravik-cli: --no-check does not apply to list" + hint);
    ExpectBadInput(Call({"program", example, "--wait"}), "dravik-cli: --wait needs a number of seconds" + hint);
    ExpectBadInput(Call({"", "list"}), "dravik-cli: empty argument" + hint);
    ExpectBadInput(Call({"message", ""}), "dravik-cli: empty argument" + hint);
    for (const char* seconds :
         {"abc", "-1", "", "1e3", "5s", ".5", "2.", "86401", "86400.5", "86400.0001", "99999999999999999999"}) {
        SCOPED_TRACE(seconds);
        ExpectBadInput(Call({"program", example, "--wait", seconds}),
                       std::string("dravik-cli: --wait needs a number of seconds from 0 to 86400, not '") + seconds +
                           "'" + hint);
    }
    // A file whose name starts with '-' comes after "--".
    File("-x.dvk", SettingsFile(kExample));
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    ExpectBadInput(Call({"message", "-x.dvk"}), "dravik-cli: unknown option '-x.dvk'" + hint);
    EXPECT_EQ(Call({"message", "--", "-x.dvk"}).out, kExampleHex);
    fs::current_path(before);
    EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty());
}

TEST_F(Cli, MessageReadsAndChecksTheFileAsTheWindowDoes)
{
    const Ran run = Call({"message", example});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kExampleHex);
    EXPECT_EQ(run.err, "");

    // The first invalid setting in canonical order is named, with the
    // window's text.
    std::array<std::string, 11> invalid = kExample;
    invalid[2] = "1.5";
    invalid[9] = "256";
    const std::string twoInvalid = File("two-invalid.dvk", SettingsFile(invalid));
    ExpectBadInput(Call({"message", twoInvalid}), "dravik-cli: " + twoInvalid + ": Invalid stamp delay");
    // The fields start empty, so a file without the paper sensor leaves its
    // settings invalid.
    std::string noPaper = SettingsFile(kExample);
    noPaper.erase(noPaper.find("\t<PaperSensor"), noPaper.find("</Dravik") - noPaper.find("\t<PaperSensor"));
    const std::string partial = File("no-paper.dvk", noPaper);
    ExpectBadInput(Call({"message", partial}), "dravik-cli: " + partial + ": missing paper sensitivity");
    // Content the reader refuses.
    std::string extra = SettingsFile(kExample);
    extra.insert(extra.find("\t<StampReturn"), "\t<Foo/>\n");
    const std::string corrupt = File("extra-element.dvk", extra);
    ExpectBadInput(Call({"message", corrupt}), "dravik-cli: " + corrupt + ": not a settings file");
    // A byte-order mark is read over.
    EXPECT_EQ(Call({"message", File("mark.dvk", "\xEF\xBB\xBF" + SettingsFile(kExample))}).out, kExampleHex);
}

TEST_F(Cli, FilesThatCannotBeReadGetTheirReason)
{
    const std::string missing = (folder / "missing.dvk").string();
    ExpectBadInput(Call({"message", missing}), "dravik-cli: " + missing + ": no such file");
    ExpectBadInput(Call({"program", folder.string()}),
                   "dravik-cli: " + folder.string() + ": is a folder, not a settings file");
    const std::string pipe = (folder / "pipe.dvk").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ExpectBadInput(Call({"message", pipe}), "dravik-cli: " + pipe + ": is not a regular file");
    // The example, padded beyond 1 MiB with white space the reader would skip.
    std::string large = SettingsFile(kExample);
    large.insert(large.find("\t<Stamp"), std::string(1u << 20, ' '));
    const std::string oversized = File("large.dvk", large);
    ExpectBadInput(Call({"message", oversized}),
                   "dravik-cli: " + oversized + ": is larger than 1 MiB, too large for a settings file");
    // Root may read any file.
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(example.c_str(), 0), 0);
        ExpectBadInput(Call({"message", example}), "dravik-cli: " + example + ": cannot be read: Permission denied");
    }
}

TEST_F(Cli, ListShowsTheDialogsRows)
{
    Ran run = Call({"list"});
    EXPECT_EQ(run.status, dvk_cli::kNoController);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No controller found.\n");

    platform.Plug("/dev/hidraw4", first);
    platform.Plug("/dev/hidraw5", second);
    run = Call({"list"});
    EXPECT_EQ(run.status, 0);
    // Day mask 0 leaves a trailing space, as in the dialog.
    EXPECT_EQ(run.out, "/dev/hidraw4 X v1.2 \n/dev/hidraw5 DVK-2 v3.0 MTuWThF 08:30:00\n");
    EXPECT_EQ(run.err, "");

    // One that does not open, and texts that need escaping in JSON and
    // cannot go on a line as they are.
    platform.Plug("/dev/hidraw6", third);
    platform.SetOpenError("/dev/hidraw6", usb_dvk::ModelPlatform::kAccessDenied);
    first.SetConfig(Config("Q\"\\\x01\xC3\xA9", "1", {0, 0, 0}));
    run = Call({"list"});
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_EQ(run.out, "/dev/hidraw4 Q\"\\?\xC3\xA9 v1 \n/dev/hidraw5 DVK-2 v3.0 MTuWThF 08:30:00\n");
    EXPECT_EQ(run.err,
              "dravik-cli: /dev/hidraw6: could not open: permission denied\n"
              "A controller was found but cannot be opened: permission denied. See the README, section USB access.\n");
    run = Call({"list", "--json"});
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_EQ(run.out,
              "{\"path\":\"/dev/hidraw4\",\"text\":\"Q\\\"\\\\\\u0001\xC3\xA9 v1 \",\"result\":\"listed\"}\n"
              "{\"path\":\"/dev/hidraw5\",\"text\":\"DVK-2 v3.0 MTuWThF 08:30:00\",\"result\":\"listed\"}\n"
              "{\"path\":\"/dev/hidraw6\",\"text\":null,\"result\":\"failed\",\"failure\":\"permission-denied\","
              "\"reason\":\"could not open: permission denied\",\"error\":" +
                  std::to_string(EACCES) + "}\n");

    // A listed controller that does not answer fails the list too.
    platform.SetOpenError("/dev/hidraw6", {});
    third.SetNeverAnswers(true);
    run = Call({"list"});
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_NE(run.out.find("/dev/hidraw6  v Error\n"), std::string::npos);
    EXPECT_EQ(run.err, "dravik-cli: /dev/hidraw6: no answer to the identification request within 500 ms\n");

    // A search that failed lists nothing and says why.
    platform.SetEnumerationError(usb_dvk::SystemError(ENOMEM));
    run = Call({"list"});
    EXPECT_EQ(run.status, dvk_cli::kNoController);
    EXPECT_EQ(run.err,
              "No controller found.\ndravik-cli: the search for controllers stopped early: " +
                  std::generic_category().message(ENOMEM) + " (error " + std::to_string(ENOMEM) +
                  "); some may be missing\n");
}

TEST_F(Cli, ProgramDeliversToEveryControllerAndNamesTheOneThatFailed)
{
    Ran run = Call({"program", example});
    EXPECT_EQ(run.status, dvk_cli::kNoController);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No controller found.\n");
    EXPECT_EQ(time.pauses, 0);

    platform.Plug("/dev/hidraw1", first);
    platform.Plug("/dev/hidraw2", second);
    platform.Plug("/dev/hidraw3", third);
    second.RejectPiece(0);
    run = Call({"program", example});
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_EQ(run.out, "/dev/hidraw1 programmed\n/dev/hidraw2 failed: rejected piece 1\n/dev/hidraw3 programmed\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(first.Received(), kExampleMessage);
    EXPECT_TRUE(second.Received().empty());
    EXPECT_EQ(third.Received(), kExampleMessage);

    second.ClearReceived();
    run = Call({"program", example, "--json"});
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_EQ(run.out,
              "{\"path\":\"/dev/hidraw1\",\"text\":\"X v1.2 \",\"result\":\"programmed\"}\n"
              "{\"path\":\"/dev/hidraw2\",\"text\":\"DVK-2 v3.0 MTuWThF 08:30:00\",\"result\":\"failed\","
              "\"failure\":\"rejected\",\"reason\":\"rejected piece 1\",\"error\":0,\"piece\":1}\n"
              "{\"path\":\"/dev/hidraw3\",\"text\":\"DVK-3 v1.0 Everyday 12:34:56\",\"result\":\"programmed\"}\n");

    second.RejectPiece(-1);
    run = Call({"program", example});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(second.Received(), kExampleMessage);

    // A controller that cannot be opened is a failed one.
    platform.SetOpenError("/dev/hidraw2", usb_dvk::ModelPlatform::kNotFound);
    run = Call({"program", example});
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_EQ(run.out,
              "/dev/hidraw1 programmed\n/dev/hidraw2 failed: could not open: No such file or directory (error "
              "2)\n/dev/hidraw3 programmed\n");
}

TEST_F(Cli, ProgramChecksTheSettingsUnlessToldNot)
{
    platform.Plug("/dev/hidraw0", first);
    std::array<std::string, 11> settings = kExample;
    settings[0] = "300";
    const std::string invalid = File("invalid.dvk", SettingsFile(settings));
    ExpectBadInput(Call({"program", invalid}), "dravik-cli: " + invalid + ": Invalid stamp current");
    // What is not a settings file, or lacks a setting, is refused either way.
    std::string noDelay = SettingsFile(kExample);
    noDelay.erase(noDelay.find(" delay=\"20\""), 11);
    const std::pair<std::string, std::string> refused[] = {
        {File("page.dvk", "<html lang=\"en\"></html>"), "not a settings file"},
        {File("no-delay.dvk", noDelay), "missing stamp delay"}};
    for (const auto& [path, reason] : refused) {
        ExpectBadInput(Call({"program", path}), "dravik-cli: " + path + ": " + reason);
        ExpectBadInput(Call({"program", "--no-check", path}), "dravik-cli: " + path + ": " + reason);
    }
    EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty());

    // As the window's USB road: the low 8 bits, inverted (255 - 44).
    const Ran run = Call({"program", "--no-check", invalid});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "/dev/hidraw0 programmed\n");
    ASSERT_EQ(first.Received().size(), kExampleMessage.size());
    EXPECT_EQ(first.Received()[3], 0xD3);
}

TEST_F(Cli, ProgramWaitsForAControllerToAppear)
{
    // Nothing comes: it looks until the time is up.
    Ran run = Call({"program", example, "--wait", "2"});
    EXPECT_EQ(run.status, dvk_cli::kNoController);
    EXPECT_EQ(time.now - time.start, 2s);
    EXPECT_GE(time.pauses, 2);
    time = FakeTime{};
    Call({"program", example, "--wait", "0.0001"});  // below a millisecond: one
    EXPECT_EQ(time.now - time.start, 1ms);

    // One is plugged in while it waits.
    time = FakeTime{};
    time.onPause = [this] { platform.Plug("/dev/hidraw0", first); };
    run = Call({"program", example, "--wait=0.5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "/dev/hidraw0 programmed\n");
    EXPECT_EQ(time.pauses, 1);
    EXPECT_EQ(first.Received(), kExampleMessage);

    // One that is found but not yet open to this user is waited for too.
    first.ClearReceived();
    platform.Plug("/dev/hidraw1", second);
    platform.SetOpenError("/dev/hidraw0", usb_dvk::ModelPlatform::kAccessDenied);
    platform.SetOpenError("/dev/hidraw1", usb_dvk::ModelPlatform::kAccessDenied);
    time = FakeTime{};
    time.onPause = [this] { platform.SetOpenError("/dev/hidraw0", {}); };
    run = Call({"program", example, "--wait", "5"});
    EXPECT_EQ(time.pauses, 1);
    EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
    EXPECT_EQ(run.out, "/dev/hidraw0 programmed\n/dev/hidraw1 failed: could not open: permission denied\n");
    EXPECT_EQ(first.Received(), kExampleMessage);

    // The longest wait is allowed.
    platform.Unplug("/dev/hidraw1");
    for (const char* longest : {"86400", "86400.000"}) {
        platform.Unplug("/dev/hidraw0");
        time = FakeTime{};
        time.onPause = [this] { platform.Plug("/dev/hidraw0", first); };
        EXPECT_EQ(Call({"program", example, "--wait", longest}).status, 0) << longest;
    }
}

TEST_F(Cli, OutputThatCannotBeWrittenIsAFailure)
{
    platform.Plug("/dev/hidraw0", first);
    const std::vector<std::string> commands[] = {{"--help"}, {"--version"}, {"message", example}, {"program", example}};
    for (const std::vector<std::string>& args : commands) {
        std::ofstream full("/dev/full");
        std::ostringstream err;
        EXPECT_EQ(dvk_cli::RunCli(args, full, err, time.Waiting(), platform), dvk_cli::kOutputFailed) << args[0];
        EXPECT_EQ(err.str(), "dravik-cli: cannot write the output: No space left on device\n") << args[0];
    }
    EXPECT_EQ(first.Received(), kExampleMessage);  // programmed all the same
}

TEST_F(Cli, TextsThatWouldActOnTheTerminalShowAsQuestionMarks)
{
    // C1 controls (CSI), a right-to-left override, an isolate, the Arabic
    // letter mark; a byte that is not UTF-8.
    const std::string missing = (folder / "a\xC2\x9B\xE2\x80\xAE\xE2\x81\xA6\xD8\x9C\x9B.dvk").string();
    ExpectBadInput(Call({"message", missing}), "dravik-cli: " + (folder / "a?????.dvk").string() + ": no such file");
    first.SetConfig(Config("P\xC2\x85\xE2\x80\x8F\xE2\x80\xAA", "1.2", {0x00, 0x01, 0x02}));
    platform.Plug("/dev/hidraw0", first);
    EXPECT_EQ(Call({"list"}).out, "/dev/hidraw0 P??? v1.2 \n");
    EXPECT_EQ(Call({"list", "--json"}).out,
              "{\"path\":\"/dev/hidraw0\",\"text\":\"P\\u0085\\u200f\\u202a v1.2 \",\"result\":\"listed\"}\n");
}

// A controller whose texts cannot be read, or whose transfers fall short, is
// listed with its row and fails the list with a reason that names the
// request and what went wrong.
TEST_F(Cli, ListMarksUnreadableControllersAndReasonsNameWhatFailed)
{
    platform.Plug("/dev/hidraw0", first);
    const std::string ones(64, '\xFF');
    struct Case {
        dvk_model::ControllerConfig config;
        bool shortReplies, shortWrites;
        std::string row, failure, reason;
    };
    const Case cases[] = {
        {Config(ones, ones, {0xFF, 0xFF, 0xFF}), false, false, " v Everyday 36:24:31", "unreadable-text",
         "the identification is not UTF-8 text"},
        {Config("X", "\xC3(", {0, 0, 0}), false, false, "X v ", "unreadable-text", "the version is not UTF-8 text"},
        {Config("X", "1", {0, 0, 0}), true, false, " v Error", "transfer-failed",
         "short reply to the identification request: 32 of 64 bytes"},
        {Config("X", "1", {0, 0, 0}), false, true, " v Error", "transfer-failed",
         "short write of the identification request: 32 of 64 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        first.SetConfig(c.config);
        first.SetShortReplies(c.shortReplies);
        platform.SetShortWrites("/dev/hidraw0", c.shortWrites);
        Ran run = Call({"list"});
        EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
        EXPECT_EQ(run.out, "/dev/hidraw0 " + c.row + "\n");
        EXPECT_EQ(run.err, "dravik-cli: /dev/hidraw0: " + c.reason + "\n");
        run = Call({"list", "--json"});
        EXPECT_EQ(run.status, dvk_cli::kControllerFailed);
        EXPECT_NE(run.out.find("\"result\":\"failed\",\"failure\":\"" + c.failure + "\",\"reason\":\"" + c.reason +
                               "\",\"error\":0}"),
                  std::string::npos)
            << run.out;
    }
    // A delivery names the piece.
    first.SetShortReplies(true);
    platform.SetShortWrites("/dev/hidraw0", false);
    EXPECT_EQ(Call({"program", "--no-check", example}).out,
              "/dev/hidraw0 failed: short reply to piece 1: 32 of 64 bytes\n");
}
