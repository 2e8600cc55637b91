// A console test aid for Windows programs run under wine: finds a program's
// top-level windows by their title and reads or operates their controls
// through the window messages a user's actions produce.
//   window-aid wait TITLE [SECONDS]     waits for a visible window; prints "x y width height"
//   window-aid gone TITLE [SECONDS]     waits until no such window is left
//   window-aid close TITLE              the close box (WM_CLOSE)
//   window-aid move TITLE X Y W H      moves and sizes it as a user would
//   window-aid edits TITLE             one line per edit field: "x y width height|text"
//   window-aid names TITLE             one line per edit field: its name over MSAA (get_accName)
//   window-aid click TITLE LABEL       clicks the button with that label
//   window-aid controls TITLE          every child window: "class|text"
//   window-aid settext TITLE N TEXT    sets the text of the Nth edit field (from 0),
//                                       as a paste would (for file dialogs' name boxes)
//   window-aid count TITLE             the number of rows of its first list box
//   window-aid menubar TITLE           prints a point "x y" on the first menu title
//   window-aid quit TITLE              closes it (WM_CLOSE) and waits up to 20 s for its program to end
//   window-aid focus TITLE             the control that has the focus: "class|text"
//   window-aid maximize|restore TITLE  as the caption's buttons do (WM_SYSCOMMAND)
//   window-aid state TITLE             "maximized" or "normal"
//   window-aid layout TITLE [LABEL POINTS]
//                                       checks that every control lies inside its
//                                       parent, overlaps no sibling and shows its
//                                       whole text (a static text LABEL is measured
//                                       in bold at POINTS); prints each fault and
//                                       "panel W H" for each childless panel
// Exits with 0 on success, 1 when the window or control is not there in time.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <oleacc.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(length) - 1);
    return narrow;
}

// The text of a window of another process: WM_GETTEXT is marshalled for it.
std::wstring TextOf(HWND window)
{
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

std::wstring ClassOf(HWND window)
{
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

struct Search {
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    if (IsWindowVisible(window) && TextOf(window) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopLevel(const std::wstring& title)
{
    Search search{title};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const std::wstring& title, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (HWND window = FindTopLevel(title))
            return window;
        if (std::chrono::steady_clock::now() >= end)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

BOOL CALLBACK CollectChild(HWND window, LPARAM data)
{
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

// Every descendant, in the order the program created them.
std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

void PrintRect(HWND window, const char* suffix)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    std::printf("%ld %ld %ld %ld%s", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, suffix);
}

RECT RectIn(HWND window, HWND parent)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE TextSize(HDC dc, HFONT font, const std::wstring& text)
{
    const HGDIOBJ old = SelectObject(dc, font);
    RECT rect{0, 0, 0, 0};
    DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &rect, DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, old);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

// The layout checks of the window's controls, at the system's DPI (this
// aid is DPI aware, as the program is). The program's controls use the
// message font of the system's metrics; the static text `bigLabel` is
// measured in bold at `bigPoints`.
int CheckLayout(HWND window, const std::wstring& bigLabel, int bigPoints)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    const HFONT caption = CreateFontIndirectW(&metrics.lfCaptionFont);
    LOGFONTW bigFont = metrics.lfMessageFont;
    const HDC dc = GetDC(nullptr);
    bigFont.lfHeight = -MulDiv(bigPoints, GetDeviceCaps(dc, LOGPIXELSY), 72);
    bigFont.lfWeight = FW_BOLD;
    const HFONT big = CreateFontIndirectW(&bigFont);
    int faults = 0, checked = 0;
    const auto fault = [&faults](const std::wstring& what, const RECT& rect, const char* problem) {
        std::printf("%s at %ld,%ld %ldx%ld: %s\n", Narrow(what).c_str(), rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, problem);
        ++faults;
    };

    RECT outer{};
    GetWindowRect(window, &outer);
    const SIZE title = TextSize(dc, caption, TextOf(window));
    if (outer.right - outer.left < title.cx + 4 * GetSystemMetrics(SM_CXSIZE))
        fault(L"caption \"" + TextOf(window) + L"\"", outer, "cut");

    for (HWND child : Children(window)) {
        if (!IsWindowVisible(child))
            continue;
        ++checked;
        const HWND parent = GetParent(child);
        const std::wstring kind = ClassOf(child), text = TextOf(child);
        const std::wstring what = kind + L" \"" + text + L"\"";
        const RECT rect = RectIn(child, parent);
        const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
        RECT client{};
        GetClientRect(parent, &client);
        if (rect.left < 0 || rect.top < 0 || rect.right > client.right || rect.bottom > client.bottom)
            fault(what, rect, "outside its parent");
        for (HWND sibling = GetWindow(child, GW_HWNDNEXT); sibling; sibling = GetWindow(sibling, GW_HWNDNEXT)) {
            RECT other = RectIn(sibling, parent), common{};
            if (IsWindowVisible(sibling) && IntersectRect(&common, &rect, &other))
                fault(what, rect, ("overlaps " + Narrow(ClassOf(sibling) + L" \"" + TextOf(sibling) + L"\"")).c_str());
        }
        if (_wcsicmp(kind.c_str(), L"Static") == 0 && !text.empty()) {
            const SIZE need = TextSize(dc, text == bigLabel ? big : font, text);
            if (width < need.cx || height < need.cy)
                fault(what, rect, "text cut");
        } else if (_wcsicmp(kind.c_str(), L"Button") == 0) {
            const SIZE need = TextSize(dc, font, text);
            if (width < need.cx + 6 || height < need.cy + 4)
                fault(what, rect, "label cut");
        } else if (_wcsicmp(kind.c_str(), L"Edit") == 0) {
            const SIZE need = TextSize(dc, font, L"255");
            if (width < need.cx + 4 || height < need.cy + 2)
                fault(what, rect, "too small for three digits");
        } else if (kind.rfind(L"wxWindow", 0) == 0 && GetWindow(child, GW_CHILD) == nullptr) {
            std::printf("panel %ld %ld\n", width, height);
        }
    }
    std::printf("%d controls checked, %d faults\n", checked, faults);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    DeleteObject(caption);
    DeleteObject(big);
    return faults == 0 ? 0 : 1;
}

// The name a screen reader announces for the control, as MSAA gives it.
std::wstring AccessibleName(HWND control)
{
    IAccessible* accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&accessible))))
        return L"(no accessible object)";
    VARIANT self{};  // the control itself: CHILDID_SELF
    self.vt = VT_I4;
    BSTR name = nullptr;
    std::wstring text = accessible->get_accName(self, &name) == S_OK && name ? name : L"(no name)";
    SysFreeString(name);
    accessible->Release();
    return text;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: window-aid wait|gone|close|move|edits|names|click|controls|settext|count|menubar|quit|"
                 "focus|maximize|restore|state|layout TITLE [...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    // Coordinates and metrics in the pixels of the program, which is aware
    // of the DPI, not scaled for an unaware one.
    SetProcessDPIAware();
    const std::string command = argv[1];
    // Titles and labels as the system passed them, in UTF-16: the narrow
    // arguments hold only what the ANSI code page can.
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    const auto text = [wide, wideCount](int i) { return std::wstring(i < wideCount ? wide[i] : L""); };
    const std::wstring title = text(2);
    const double seconds = argc > 3 && (command == "wait" || command == "gone") ? std::atof(argv[3]) : 10.0;

    if (command == "gone") {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (FindTopLevel(title) != nullptr) {
            if (std::chrono::steady_clock::now() >= end) {
                std::fprintf(stderr, "window \"%s\" still there\n", argv[2]);
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

    HWND window = WaitFor(title, seconds);
    if (window == nullptr) {
        std::fprintf(stderr, "no window \"%s\"\n", argv[2]);
        return 1;
    }

    if (command == "wait") {
        PrintRect(window, "\n");
    } else if (command == "close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (command == "move") {
        if (argc < 7)
            return Usage();
        SetWindowPos(window, nullptr, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (command == "edits") {
        for (HWND child : Children(window)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Edit") == 0) {
                PrintRect(child, "|");
                std::printf("%s\n", Narrow(TextOf(child)).c_str());
            }
        }
    } else if (command == "names") {
        CoInitialize(nullptr);
        for (HWND child : Children(window)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Edit") == 0)
                std::printf("%s\n", Narrow(AccessibleName(child)).c_str());
        }
        CoUninitialize();
    } else if (command == "click") {
        if (argc < 4)
            return Usage();
        const std::wstring label = text(3);
        for (HWND child : Children(window)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Button") == 0 && TextOf(child) == label) {
                // What a mouse click on the button sends its parent.
                PostMessageW(GetParent(child), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), BN_CLICKED),
                             reinterpret_cast<LPARAM>(child));
                return 0;
            }
        }
        std::fprintf(stderr, "no button \"%s\" in \"%s\"\n", argv[3], argv[2]);
        return 1;
    } else if (command == "settext") {
        if (argc < 5)
            return Usage();
        int index = std::atoi(argv[3]);
        for (HWND child : Children(window)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Edit") == 0 && index-- == 0) {
                SendMessageW(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text(4).c_str()));
                return 0;
            }
        }
        std::fprintf(stderr, "no edit field %s in \"%s\"\n", argv[3], argv[2]);
        return 1;
    } else if (command == "count") {
        for (HWND child : Children(window)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"ListBox") == 0) {
                std::printf("%ld\n", static_cast<long>(SendMessageW(child, LB_GETCOUNT, 0, 0)));
                std::fflush(stdout);
                return 0;
            }
        }
        std::fprintf(stderr, "no list box in \"%s\"\n", argv[2]);
        return 1;
    } else if (command == "menubar") {
        // A point on the first title of the menu bar, which lies right above
        // the client area.
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        std::printf("%ld %ld\n", origin.x + 12, origin.y - GetSystemMetrics(SM_CYMENU) / 2);
    } else if (command == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || info.hwndFocus == nullptr)
            return 1;
        std::printf("%s|%s\n", Narrow(ClassOf(info.hwndFocus)).c_str(), Narrow(TextOf(info.hwndFocus)).c_str());
    } else if (command == "maximize" || command == "restore") {
        PostMessageW(window, WM_SYSCOMMAND, command == "maximize" ? SC_MAXIMIZE : SC_RESTORE, 0);
    } else if (command == "state") {
        std::printf("%s\n", IsZoomed(window) ? "maximized" : "normal");
    } else if (command == "layout") {
        return CheckLayout(window, argc > 4 ? text(3) : std::wstring(), argc > 4 ? std::atoi(argv[4]) : 0);
    } else if (command == "controls") {
        for (HWND child : Children(window))
            std::printf("%s|%s\n", Narrow(ClassOf(child)).c_str(), Narrow(TextOf(child)).c_str());
    } else if (command == "quit") {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
        PostMessageW(window, WM_CLOSE, 0, 0);
        const bool ended = process != nullptr && WaitForSingleObject(process, 20000) == WAIT_OBJECT_0;
        if (process != nullptr)
            CloseHandle(process);
        if (!ended) {
            std::fprintf(stderr, "the program of \"%s\" did not end\n", argv[2]);
            return 1;
        }
    } else {
        return Usage();
    }
    std::fflush(stdout);
    return 0;
}
