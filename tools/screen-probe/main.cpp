// dvk-screen-probe: watches the screen programmer's panel on the X server, as
// the controller watches the screen, and reads the programming message out
// of the colour swaps.
//
//   dvk-screen-probe [--count N] [--timeout SECONDS] [--pauses] [--interval-us US]
//                    [--title TEXT]
//
// It waits for the window titled "Dravik - Screen Programmer", finds the
// black and white halves of its panel, and polls one pixel of each half.
// Every message is printed with its checks (start byte, length byte, data
// and frame checksums), the settings it carries and the timing of its
// pauses. It runs at a real-time priority where that is allowed. It exits
// after N messages (default 1): 0 when all passed their checks, 1 when one
// did not, 2 when nothing came in time.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <sched.h>
#include <string>
#include <thread>
#include <vector>

#include "core/Settings.h"
#include "tools/screen-probe/SwapDecoder.h"

namespace {

struct Options {
    std::string title = "Dravik - Screen Programmer";
    int count = 1;
    double timeoutSeconds = 120;
    bool pauses = false;
    int intervalUs = 200;
};

double NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;  // a window that goes away while we look at it
}

struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using Image = std::unique_ptr<XImage, ImageDeleter>;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

std::optional<std::string> WindowTitle(Display* display, Window window)
{
    static const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        std::string title(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        std::string title(name);
        XFree(name);
        return title;
    }
    return std::nullopt;
}

// The viewable window with the title, searched depth first from `parent`.
Window FindWindow(Display* display, Window parent, const std::string& title)
{
    Window root = 0, parentOut = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        if (WindowTitle(display, children[i]) == title)
            found = children[i];
        else
            found = FindWindow(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

enum class Shade { Black, White, Other };

struct Colours {
    unsigned long white;
    Shade Of(unsigned long pixel) const
    {
        if (pixel == 0)
            return Shade::Black;
        return (pixel & white) == white ? Shade::White : Shade::Other;
    }
};

// Two points on the root window, one in each half of the panel.
struct Probe {
    int leftX, rightX, y;
};

// Looks for the panel in the window's image: a row where a long black run
// meets a long white run (or white meets black, when it is caught swapped).
std::optional<Probe> FindPanel(Display* display, Window window, const Colours& colours)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes))
        return std::nullopt;
    Image image(XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                          static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap));
    if (!image)
        return std::nullopt;
    constexpr int kMinRun = 40;
    struct Row {
        int y, left, middle, right;
    };
    std::vector<Row> rows;
    for (int y = 0; y < attributes.height; ++y) {
        int runStart = 0;
        Shade runShade = colours.Of(XGetPixel(image.get(), 0, y));
        int previousStart = -1;
        Shade previousShade = Shade::Other;
        for (int x = 1; x <= attributes.width; ++x) {
            const Shade shade = x < attributes.width ? colours.Of(XGetPixel(image.get(), x, y)) : Shade::Other;
            if (shade == runShade)
                continue;
            if (previousStart >= 0 && previousShade != Shade::Other && runShade != Shade::Other &&
                previousShade != runShade && runStart - previousStart >= kMinRun && x - runStart >= kMinRun) {
                rows.push_back({y, previousStart, runStart, x});
            }
            previousStart = runStart;
            previousShade = runShade;
            runStart = x;
            runShade = shade;
        }
    }
    if (rows.empty())
        return std::nullopt;
    // The panel is the tallest block of rows sharing one boundary.
    std::sort(rows.begin(), rows.end(),
              [](const Row& a, const Row& b) { return a.middle != b.middle ? a.middle < b.middle : a.y < b.y; });
    std::size_t bestFirst = 0, bestCount = 0;
    for (std::size_t first = 0; first < rows.size();) {
        std::size_t last = first;
        while (last + 1 < rows.size() && rows[last + 1].middle == rows[first].middle)
            ++last;
        if (last - first + 1 > bestCount) {
            bestFirst = first;
            bestCount = last - first + 1;
        }
        first = last + 1;
    }
    if (bestCount < 20)
        return std::nullopt;
    const Row& row = rows[bestFirst + bestCount / 2];
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &rootX, &rootY, &child);
    return Probe{rootX + (row.left + row.middle) / 2, rootX + (row.middle + row.right) / 2, rootY + row.y};
}

std::string Hex(const std::vector<unsigned char>& bytes)
{
    std::string text;
    for (unsigned char byte : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X", byte);
        text += part;
    }
    return text;
}

const char* Verdict(bool ok)
{
    return ok ? "ok" : "WRONG";
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// The settings as the controller stores them, when the layout is the one
// it knows: a settings block of type 0x57 with the eleven values.
void PrintSettings(const probe::ReceivedMessage& message)
{
    const std::vector<unsigned char>& b = message.bytes;
    if (b.size() < 3 || b[2] != 0x57)
        return;
    std::size_t at = 3;
    std::printf("  settings:");
    for (const dvk::SettingInfo& setting : dvk::kSettings) {
        if (at + static_cast<std::size_t>(setting.byteWidth) > b.size() - 2)
            break;
        unsigned value = b[at];
        if (setting.byteWidth == 2)
            value = value << 8 | b[at + 1];
        else if (setting.invertedInMessage)
            value = 255 - value;
        at += static_cast<std::size_t>(setting.byteWidth);
        std::printf(" %s/%s=%u", setting.rowLabel, setting.columnLabel, value);
    }
    std::printf("\n");
}

void Print(const probe::ReceivedMessage& message, int number, const Options& options)
{
    std::printf("message %d: %s (%zu bytes, %zu swaps)\n", number, Hex(message.bytes).c_str(), message.bytes.size(),
                message.swaps);
    if (!message.problem.empty())
        std::printf("  problem: %s\n", message.problem.c_str());
    std::printf("  start byte: %s\n", Verdict(message.startOk));
    std::printf("  length byte: %s\n", Verdict(message.lengthOk));
    std::printf("  data checksum: %s\n", Verdict(message.dataChecksumOk));
    std::printf("  frame checksum: %s\n", Verdict(message.frameChecksumOk));
    if (message.Ok())
        PrintSettings(message);
    std::vector<double> errors;
    for (const probe::Pause& pause : message.pauses)
        errors.push_back(std::abs(pause.measuredMs - pause.nominalMs));
    std::printf("  pause error |measured - nominal|: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                Percentile(errors, 0.5), Percentile(errors, 0.99), Percentile(errors, 1.0));
    std::printf("  first swap %.3f, last swap %.3f (monotonic ms), nominal from Start %.0f ms\n", message.firstSwapMs,
                message.lastSwapMs, message.NominalTotalMs());
    if (options.pauses) {
        for (const probe::Pause& pause : message.pauses)
            std::printf("pause %d %.4f %.0f\n", number, pause.measuredMs, pause.nominalMs);
        std::printf("last-swap %d %.4f %.0f\n", number, message.lastSwapMs, message.NominalTotalMs());
    }
    std::fflush(stdout);
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--pauses")
            options.pauses = true;
        else if (arg == "--count" && hasValue)
            options.count = std::atoi(argv[++i]);
        else if (arg == "--timeout" && hasValue)
            options.timeoutSeconds = std::atof(argv[++i]);
        else if (arg == "--interval-us" && hasValue)
            options.intervalUs = std::atoi(argv[++i]);
        else if (arg == "--title" && hasValue)
            options.title = argv[++i];
        else
            return false;
    }
    return options.count > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--count N] [--timeout SECONDS] [--pauses] [--interval-us US] [--title TEXT]\n",
                     argv[0]);
        return 2;
    }
    // The controller is a device of its own, whose looks at the screen never
    // wait for a processor: the probe runs at a low real-time priority where
    // that is allowed (below the sender's), so that a busy machine delays
    // what is drawn, not how it is watched.
    sched_param realtime{};
    realtime.sched_priority = 5;
    sched_setscheduler(0, SCHED_FIFO, &realtime);
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 2;
    }
    XSetErrorHandler(IgnoreXError);
    Display* dpy = display.get();
    const Window root = DefaultRootWindow(dpy);
    const Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
    const Colours colours{visual->red_mask | visual->green_mask | visual->blue_mask};
    const double deadline = NowMs() + options.timeoutSeconds * 1000;

    std::optional<Probe> probe;
    while (!probe) {
        if (NowMs() > deadline) {
            std::fprintf(stderr, "no panel of a window titled \"%s\" found\n", options.title.c_str());
            return 2;
        }
        if (const Window window = FindWindow(dpy, root, options.title))
            probe = FindPanel(dpy, window, colours);
        if (!probe)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("watching the panel at (%d, %d) and (%d, %d)\n", probe->leftX, probe->y, probe->rightX, probe->y);
    std::fflush(stdout);

    probe::SwapDecoder decoder;
    const auto width = static_cast<unsigned>(probe->rightX - probe->leftX + 1);
    std::optional<bool> inverted;
    double previousPollMs = NowMs();
    int received = 0;
    bool allOk = true;
    while (received < options.count) {
        const double before = NowMs();
        if (before > deadline) {
            std::fprintf(stderr, "timed out after %d of %d messages\n", received, options.count);
            return 2;
        }
        Image strip(XGetImage(dpy, root, probe->leftX, probe->y, width, 1, AllPlanes, ZPixmap));
        const double after = NowMs();
        if (strip) {
            const Shade left = colours.Of(XGetPixel(strip.get(), 0, 0));
            const Shade right = colours.Of(XGetPixel(strip.get(), static_cast<int>(width) - 1, 0));
            std::optional<bool> state;
            if (left == Shade::Black && right == Shade::White)
                state = false;
            else if (left == Shade::White && right == Shade::Black)
                state = true;
            if (state && inverted && *state != *inverted) {
                // It changed between the previous look and this one.
                decoder.Swap((previousPollMs + (before + after) / 2) / 2);
            }
            if (state)
                inverted = state;
        }
        previousPollMs = (before + after) / 2;
        if (auto message = decoder.Idle(after)) {
            ++received;
            allOk = allOk && message->Ok();
            Print(*message, received, options);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(options.intervalUs));
    }
    return allOk ? 0 : 1;
}
