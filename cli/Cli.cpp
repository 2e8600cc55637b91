#include "cli/Cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

#include "core/Settings.h"
#include "core/Utf8.h"
#include "core/Version.h"
#include "files/FileResultText.h"
#include "files/SettingsFile.h"
#include "screen/ProgrammingMessage.h"
#include "usb/OutcomeText.h"
#include "usb/USBProgrammerPasses.h"

namespace dvk_cli {

namespace {

using usb_programmer::Failure;
using usb_programmer::FailureName;
using usb_programmer::Outcome;
using usb_programmer::Reason;
using usb_programmer::SystemCode;

constexpr char kProgram[] = "dravik-cli";
// How often `program --wait` looks for a controller.
constexpr std::chrono::milliseconds kLookPeriod(250);

constexpr char kHelp[] = R"(Usage: dravik-cli list [--json]
       dravik-cli message FILE.dvk
       dravik-cli program FILE.dvk [--wait SECONDS] [--no-check] [--json]
       dravik-cli --help | --version

Lists, checks and programs the Dravik Embosser Controllers attached over USB.

Commands:
  list            One line per attached controller: its path, then its
                  identification, " v", its version, a space and its clock.
  message FILE    Reads the settings file, checks the settings and prints the
                  programming message as hex bytes.
  program FILE    Reads and checks the settings file as `message` does, then
                  programs every attached controller with it and prints one
                  line per controller: "PATH programmed" or
                  "PATH failed: REASON" (pieces are counted from 1).

Options:
  --json          list, program: one JSON object per controller per line.
  --wait SECONDS  program: wait up to SECONDS (0 to 86400, default 0) for a
                  controller to appear; a fraction finer than a millisecond
                  counts as a whole one.
  --no-check      program: send the settings without checking them first.
  --help          Show this help.
  --version       Show the version.

Exit status:
  0  success; for program: at least one controller, and every piece of the
     message acknowledged by every controller
  1  a controller failed: it could not be opened, did not answer or rejected
     a piece
  1  the output could not be written (a message on standard error says so)
  2  bad usage, a settings file that cannot be read or lacks a setting, or
     invalid settings
  3  no controller found

Control characters and marks that change the direction of text are printed
as "?" (escaped in JSON).
)";

// --- Text ------------------------------------------------------------------

// Characters that act on a terminal instead of showing: the C0 and C1
// controls, DEL, and the marks (the Arabic letter mark among them),
// embeddings, overrides and isolates that turn the direction of what
// follows.
bool IsControl(char32_t point)
{
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x061C || point == 0x200E || point == 0x200F ||
        (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// A field's text from a word of the settings file, as the window's fields
// take it (UTF-16 where wchar_t has 16 bits).
std::wstring ToWide(const std::string& utf8)
{
    std::wstring wide;
    for (char32_t point : dvk::DecodeUtf8(utf8)) {
        if (sizeof(wchar_t) == 2 && point >= 0x10000) {
            point -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (point >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(point);
        }
    }
    return wide;
}

std::string JsonString(const std::string& text)
{
    std::string json = "\"";
    for (char32_t point : dvk::DecodeUtf8(text)) {
        switch (point) {
        case U'"': json += "\\\""; break;
        case U'\\': json += "\\\\"; break;
        case U'\n': json += "\\n"; break;
        case U'\r': json += "\\r"; break;
        case U'\t': json += "\\t"; break;
        default:
            if (IsControl(point)) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(point));
                json += escaped;
            } else {
                json += dvk::EncodeUtf8(point);
            }
        }
    }
    return json + "\"";
}

// Text for a line of its own: control characters, which would break the
// line, move the cursor or turn the text around, show as '?'; so does each
// byte that is not part of valid UTF-8 (a lone 0x9B is a control to some
// terminals).
std::string Printable(const std::string& text)
{
    std::string printable;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = dvk::ValidSequenceLength(text, i);
        if (length == 0 || IsControl(dvk::DecodeSequence(text, i, length)))
            printable += '?';
        else
            printable.append(text, i, length);
        i += std::max<std::size_t>(length, 1);
    }
    return printable;
}

std::ostream& Diagnostic(std::ostream& err)
{
    return err << kProgram << ": ";
}

// --- The command line --------------------------------------------------------

struct CommandLine {
    std::string command;
    std::vector<std::string> operands;
    bool json = false;
    bool noCheck = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> wait;  // the text given with --wait
};

int Usage(std::ostream& err, const std::string& problem)
{
    Diagnostic(err) << problem << " (see dravik-cli --help)\n";
    return kBadInput;
}

// Options anywhere, "--" ends them. False with the problem when an option
// is unknown or lacks its value.
bool Parse(const std::vector<std::string>& args, CommandLine& line, std::string& problem)
{
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty()) {
            problem = "empty argument";
            return false;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--json") {
                line.json = true;
            } else if (arg == "--no-check") {
                line.noCheck = true;
            } else if (arg == "--help" || arg == "-h") {
                line.help = true;
            } else if (arg == "--version") {
                line.version = true;
            } else if (arg == "--wait") {
                if (i + 1 == args.size()) {
                    problem = "--wait needs a number of seconds";
                    return false;
                }
                line.wait = args[++i];
            } else if (arg.compare(0, 7, "--wait=") == 0) {
                line.wait = arg.substr(7);
            } else {
                problem = "unknown option '" + Printable(arg) + "'";
                return false;
            }
        } else if (line.command.empty()) {
            line.command = arg;
        } else {
            line.operands.push_back(arg);
        }
    }
    return true;
}

// Seconds as digits with an optional fraction, 0 to kMaxWaitSeconds as the
// decimal text says (86400.0001 is too long), in whole milliseconds: a
// fraction finer than a millisecond counts as one more (0.0001 waits 1 ms).
std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text)
{
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    auto digits = [](const std::string& part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(whole) || (point != std::string::npos && !digits(fraction)))
        return std::nullopt;
    long long seconds = 0;
    for (char c : whole) {
        seconds = seconds * 10 + (c - '0');
        if (seconds > static_cast<long long>(kMaxWaitSeconds))
            return std::nullopt;
    }
    const std::string thousandths = (fraction + "000").substr(0, 3);
    const bool finer = fraction.find_first_not_of('0', 3) != std::string::npos;
    const long long ms = seconds * 1000 + std::stoll(thousandths) + (finer ? 1 : 0);
    if (ms > static_cast<long long>(kMaxWaitSeconds * 1000))
        return std::nullopt;
    return std::chrono::milliseconds(ms);
}

// --- The settings file ---------------------------------------------------------

// Reads the settings file as File > Open does, into fields that start empty
// as the window's do, but only a file that holds every setting; checks them
// as Program does unless told not to, and builds the message.
int BuildMessage(const std::string& path, bool check, std::ostream& err, std::vector<unsigned char>& message)
{
    dvk::SettingTexts texts;
    const dvk::FileResult read = dvk::ReadSettingsFileAt(
        path, [&texts](dvk::SettingIndex setting, const std::string& word) { texts[setting] = ToWide(word); },
        dvk::Expect::EverySetting);
    if (!read) {
        Diagnostic(err) << Printable(path) << ": " << dvk::FileReason(read) << "\n";
        return kBadInput;
    }
    if (check) {
        if (const std::optional<dvk::SettingIndex> invalid = dvk::FirstInvalidSetting(texts)) {
            Diagnostic(err) << Printable(path) << ": " << dvk::kSettings[*invalid].invalidMessage << "\n";
            return kBadInput;
        }
    }
    dvk::AppendProgrammingMessage(texts, message);
    return kSuccess;
}

// --- The controllers -----------------------------------------------------------

// What became of one controller, with its row text when it is listed.
struct Result {
    Outcome outcome;
    std::optional<std::string> text;
};

// One JSON line. success names the result of a controller without failure.
void PrintJson(std::ostream& out, const Result& result, const char* success)
{
    const Outcome& o = result.outcome;
    out << "{\"path\":" << JsonString(o.path) << ",\"text\":" << (result.text ? JsonString(*result.text) : "null")
        << ",\"result\":\"" << (o.failure == Failure::None ? success : "failed") << "\"";
    if (o.failure != Failure::None) {
        out << ",\"failure\":\"" << FailureName(o.failure) << "\",\"reason\":" << JsonString(Reason(o))
            << ",\"error\":" << SystemCode(o.error);
        if (o.failure == Failure::Rejected)
            out << ",\"piece\":" << o.piece + 1;
    }
    out << "}\n";
}

// The controllers as the USB programmer's refresh pass finds them: the
// entries it keeps and the rows it gives them.
class Controllers {
public:
    explicit Controllers(usb_dvk::Platform& platform) : system(platform) { }
    void Look()
    {
        report =
            usb_programmer::RefreshPass(system, entries, [this](const usb_programmer::RowChange& c) { rows.Apply(c); });
    }
    usb_programmer::Entries& Entries() { return entries; }
    usb_dvk::Platform& Platform() { return system.GetPlatform(); }
    // Every controller the latest look came to, in the order found, each
    // with its row text when it is listed. Those whose path is in
    // replacements get that outcome instead of the look's.
    std::vector<Result> Results(const std::vector<Outcome>& replacements = {}) const
    {
        std::vector<Result> results;
        for (const Outcome& outcome : report.outcomes) {
            Result result{outcome, std::nullopt};
            for (std::size_t row = 0; row < entries.size(); ++row) {
                if (entries[row].device.GetPath() == outcome.path)
                    result.text = rows.texts.at(row);
            }
            for (const Outcome& replacement : replacements) {
                if (replacement.path == outcome.path)
                    result.outcome = replacement;
            }
            results.push_back(result);
        }
        return results;
    }
    // The status line under the dialog's list, when it says more than the
    // lines do: nothing listed, or permission denied.
    void PrintStatus(std::ostream& err) const
    {
        const std::string status = usb_programmer::StatusText(report);
        if (report.listed == 0 || status == usb_programmer::kPermissionDeniedText)
            err << status << "\n";
        if (!report.enumerationEnded)
            Diagnostic(err) << usb_programmer::SearchStoppedText(report.enumerationError) << "\n";
    }

private:
    usb_dvk::System system;
    usb_programmer::Entries entries;
    usb_programmer::Rows rows;
    usb_programmer::RefreshReport report;
};

// The exit status for what became of the controllers.
int ControllersStatus(const std::vector<Result>& results)
{
    if (results.empty())
        return kNoController;
    for (const Result& result : results) {
        if (result.outcome.failure != Failure::None)
            return kControllerFailed;
    }
    return kSuccess;
}

int List(const CommandLine& line, std::ostream& out, std::ostream& err, usb_dvk::Platform& platform)
{
    Controllers controllers(platform);
    controllers.Look();
    const std::vector<Result> results = controllers.Results();
    for (const Result& result : results) {
        if (line.json) {
            PrintJson(out, result, "listed");
            continue;
        }
        if (result.text)
            out << Printable(result.outcome.path) << " " << Printable(*result.text) << "\n";
        if (result.outcome.failure != Failure::None)
            Diagnostic(err) << Printable(result.outcome.path) << ": " << Reason(result.outcome) << "\n";
    }
    controllers.PrintStatus(err);
    return ControllersStatus(results);
}

int Message(const CommandLine& line, std::ostream& out, std::ostream& err)
{
    std::vector<unsigned char> message;
    if (const int status = BuildMessage(line.operands[0], true, err, message); status != kSuccess)
        return status;
    std::ostringstream hex;
    hex << std::hex << std::uppercase << std::setfill('0');
    for (std::size_t i = 0; i < message.size(); ++i)
        hex << (i == 0 ? "" : " ") << std::setw(2) << static_cast<unsigned>(message[i]);
    out << hex.str() << "\n";
    return kSuccess;
}

int Program(const CommandLine& line, std::chrono::milliseconds wait, std::ostream& out, std::ostream& err,
            const Waiting& waiting, usb_dvk::Platform& platform)
{
    std::vector<unsigned char> message;
    if (const int status = BuildMessage(line.operands[0], !line.noCheck, err, message); status != kSuccess)
        return status;

    // Until a controller is listed: one found but not opened yet may be
    // waiting for the system to give this user access.
    Controllers controllers(platform);
    const auto deadline = waiting.now() + wait;
    for (;;) {
        controllers.Look();
        if (!controllers.Entries().empty())
            break;
        const auto now = waiting.now();
        if (now >= deadline)
            break;
        waiting.pause(std::min(kLookPeriod, std::chrono::ceil<std::chrono::milliseconds>(deadline - now)));
    }

    const std::vector<Outcome> programmed = usb_programmer::ProgramPass(
        controllers.Platform(), controllers.Entries(), message, [](const usb_programmer::RowChange&) {});
    const std::vector<Result> results = controllers.Results(programmed);
    for (const Result& result : results) {
        if (line.json)
            PrintJson(out, result, "programmed");
        else if (result.outcome.failure == Failure::None)
            out << Printable(result.outcome.path) << " programmed\n";
        else
            out << Printable(result.outcome.path) << " failed: " << Reason(result.outcome) << "\n";
    }
    controllers.PrintStatus(err);
    return ControllersStatus(results);
}

}  // namespace

Waiting RealWaiting()
{
    return Waiting{[] { return std::chrono::steady_clock::now(); },
                   [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }};
}

namespace {

// The command line's work, before the output is checked.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Waiting& waiting,
        usb_dvk::Platform& platform)
{
    CommandLine line;
    std::string problem;
    if (!Parse(args, line, problem))
        return Usage(err, problem);
    if (line.help) {
        out << kHelp;
        return kSuccess;
    }
    if (line.version) {
        out << kProgram << " " << DVK_VERSION << "\n";
        return kSuccess;
    }

    struct Command {
        const char* name;
        std::size_t operands;  // 0 or 1: the settings file
        bool json, wait, noCheck;
    };
    static constexpr Command kCommands[] = {
        {"list", 0, true, false, false},
        {"message", 1, false, false, false},
        {"program", 1, true, true, true},
    };
    if (line.command.empty())
        return Usage(err, "no command given");
    const Command* command = nullptr;
    for (const Command& known : kCommands) {
        if (line.command == known.name)
            command = &known;
    }
    if (!command)
        return Usage(err, "unknown command '" + Printable(line.command) + "'");
    const std::string name = command->name;
    if (line.operands.size() < command->operands)
        return Usage(err, name + " needs a settings file");
    if (line.operands.size() > command->operands)
        return Usage(err, "unexpected argument '" + Printable(line.operands[command->operands]) + "'");
    if ((line.json && !command->json) || (line.wait && !command->wait) || (line.noCheck && !command->noCheck)) {
        const char* option = line.json && !command->json ? "--json"
            : line.wait && !command->wait                ? "--wait"
                                                         : "--no-check";
        return Usage(err, std::string(option) + " does not apply to " + name);
    }
    std::chrono::milliseconds wait(0);
    if (line.wait) {
        const std::optional<std::chrono::milliseconds> parsed = ParseSeconds(*line.wait);
        if (!parsed)
            return Usage(err, "--wait needs a number of seconds from 0 to 86400, not '" + Printable(*line.wait) + "'");
        wait = *parsed;
    }

    if (name == "list")
        return List(line, out, err, platform);
    if (name == "message")
        return Message(line, out, err);
    return Program(line, wait, out, err, waiting, platform);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Waiting& waiting,
           usb_dvk::Platform& platform)
{
    // Results that never reached the reader (a full disk, /dev/full) are a
    // failure. The output is written after the controllers' work, so the
    // last system error is the write's.
    errno = 0;
    const int status = Run(args, out, err, waiting, platform);
    if (out.flush())
        return status;
    const int error = errno;
    Diagnostic(err) << "cannot write the output" << (error != 0 ? ": " + std::generic_category().message(error) : "")
                    << "\n";
    return kOutputFailed;
}

}  // namespace dvk_cli
