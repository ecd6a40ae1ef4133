// Times programs from their start to their first picture on screen: the moment when the screen
// shows the window's logo drawn (at least a quarter of the pixels of a row through its middle not
// white) and the blank area right of the "Credits :" heading white, as the first paint leaves
// them. The programs are started in turn, `runs` times each, each run ended once its picture is
// seen. Usage: startup_probe RUNS PROGRAM...   Prints each time, then for each program the
// median and the fastest run, and the ratio of each median to the first program's.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/KernelHandle.h"
#include "win32/Handles.h"

namespace {

// Rows of the client area at 96 DPI: through the middle of the logo's picture, and right of the
// heading. Single rows keep each look at the screen short, so that the probe takes little of the
// time that it measures.
constexpr RECT logoRow{0, 84, 168, 85};
constexpr RECT blankRow{312, 10, 489, 11};
constexpr double timeoutSeconds = 10.0;

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER counts{};
        QueryPerformanceFrequency(&counts);
        return static_cast<double>(counts.QuadPart);
    }();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency;
}

// The visible captioned window of the process, or null.
HWND VisibleWindowOf(DWORD processId) {
    struct Search {
        DWORD processId;
        HWND found;
    } search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) CALLBACK -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s.processId && IsWindowVisible(window) &&
                (GetWindowLongPtrW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// How many pixels of the screen inside `area` of the window's client area are not white.
int NonWhitePixels(HWND window, RECT area) {
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const WindowDc screen(nullptr);
    const MemoryDc memory(screen.Get());
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const Bitmap bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        return 0;
    }
    {
        const SelectedObject selected(memory.Get(), bitmap.Get());
        BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), area.left, area.top, SRCCOPY);
    }
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    return static_cast<int>(
        std::count_if(pixels, pixels + static_cast<std::size_t>(width) * height,
                      [](DWORD pixel) { return (pixel & 0xFFFFFF) != 0xFFFFFF; }));
}

bool FirstPictureShown(HWND window) {
    return NonWhitePixels(window, blankRow) == 0 &&
           NonWhitePixels(window, logoRow) >= (logoRow.right - logoRow.left) / 4;
}

// Seconds from the start of `program` to its first picture, or nothing on a timeout.
std::optional<double> TimeToFirstPicture(const std::wstring& program) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program + L"\"";
    const double started = Now();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return std::nullopt;
    }
    const KernelHandle processHandle(process.hProcess);
    const KernelHandle threadHandle(process.hThread);
    std::optional<double> seen;
    while (!seen && Now() - started < timeoutSeconds) {
        const HWND window = VisibleWindowOf(process.dwProcessId);
        if (window != nullptr && FirstPictureShown(window)) {
            seen = Now() - started;
        } else {
            Sleep(1);
        }
    }
    TerminateProcess(processHandle.Get(), 0);
    WaitForSingleObject(processHandle.Get(), 5000);
    return seen;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The program's file name, for the table.
std::string Name(const std::wstring& program) {
    return Narrow(program.substr(program.find_last_of(L"\\/") + 1));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: startup_probe RUNS PROGRAM...\n", stderr);
        return 2;
    }
    const int runs = std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10)));
    const std::vector<std::wstring> programs(argv + 2, argv + argc);
    std::vector<std::vector<double>> times(programs.size());
    for (int run = 1; run <= runs; ++run) {
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const std::optional<double> time = TimeToFirstPicture(programs[i]);
            if (!time) {
                std::fprintf(stderr, "no first picture from %s within %.0f s\n",
                             Narrow(programs[i]).c_str(), timeoutSeconds);
                return 1;
            }
            times[i].push_back(*time);
            std::printf("run %2d  %-28s %7.1f ms\n", run, Name(programs[i]).c_str(), *time * 1000);
            std::fflush(stdout);
            // The ended program's windows and its Wine process go before the next start.
            Sleep(300);
        }
    }
    // The fastest run shows a program's own cost best when other work shares the machine.
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::printf("median  %-28s %7.1f ms   fastest %7.1f ms\n", Name(programs[i]).c_str(),
                    Median(times[i]) * 1000,
                    *std::min_element(times[i].begin(), times[i].end()) * 1000);
    }
    for (std::size_t i = 1; i < programs.size(); ++i) {
        std::printf("ratio   %-28s %7.2f x the first's median\n", Name(programs[i]).c_str(),
                    Median(times[i]) / Median(times[0]));
    }
    return 0;
}
