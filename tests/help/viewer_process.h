// What the help tests and the soak know of the viewer processes the module
// starts.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// True while the process `pid` runs.
inline bool Alive(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return false;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

// A viewer the stand-in recorded: its process, the file of the program that
// ran and its command line.
struct Launch {
    DWORD pid;
    std::wstring image;
    std::wstring commandLine;
};

// The viewers recorded in the stand-in's log (IVRO_VIEWER_LOG) so far,
// waiting up to 20 s for `atLeast` of them: a viewer may be slow to start
// when the machine is busy.
inline std::vector<Launch> Launches(const std::wstring& log, size_t atLeast)
{
    std::vector<Launch> launches;
    for (int wait = 0; wait < 400; ++wait) {
        launches.clear();
        std::string bytes;
        HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char chunk[4096];
            DWORD got = 0;
            while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
                bytes.append(chunk, got);
            CloseHandle(file);
        }
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
            std::wstring line = text.substr(start, end - start);
            size_t tab = line.find(L'\t'), next = line.find(L'\t', tab + 1);
            launches.push_back({DWORD(std::stoul(line.substr(0, tab))), line.substr(tab + 1, next - tab - 1),
                                line.substr(next + 1)});
        }
        if (launches.size() >= atLeast)
            break;
        Sleep(50);
    }
    return launches;
}

// Runs `body`, which may show the module's "Missing Help File" box; the box
// is read and dismissed. Returns its text, or nothing when none appeared.
inline std::wstring DismissingTheBox(const std::function<void()>& body)
{
    std::wstring box;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int wait = 0; wait < 1200 && !done; ++wait) {
            if (HWND window = FindWindowW(nullptr, L"Missing Help File")) {
                wchar_t text[2048] = {};
                GetDlgItemTextW(window, 0xFFFF, text, 2048);
                box = text;
                PostMessageW(window, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(25);
        }
    });
    body();
    done = true;
    watcher.join();
    return box;
}

// The text of the module's missing-help box, word for word, with `windows`
// as the Windows directory it names. Written out here, not made from the
// module's table of places: a change to the table or to the message's words
// shows in every test that compares the box with this.
inline std::wstring MissingHelp(const std::wstring& windows)
{
    return L"I can\x2019t find the help file Ivro.chm.  It should be:\n\n"
           L"    \x2022  in a directory specified in %IVROHELP\n"
           L"    \x2022  in a directory specified in %PLUGINHELP\n"
           L"    \x2022  in the same directory as the .DLL file\n"
           L"    \x2022  in a HELP directory within the .DLL\x2019s directory  \n"
           L"    \x2022  in the same directory as the command shell\n"
           L"    \x2022  in a HELP directory within the shell\x2019s directory  \n"
           L"    \x2022  or in " +
           windows + L"\\Help.\n";
}

// A window of the test program's own, shown and made the foreground window
// for as long as this lives: the module's message box is owned by the
// foreground window, and under wine that may be the desktop, which cannot
// own one. The shell's console would be it.
class ForegroundWindow {
public:
    ForegroundWindow()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"IvroTestForeground";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"IvroTestForeground", L"Ivro test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                200, nullptr, nullptr, windowClass.hInstance, nullptr);
        SetForegroundWindow(window_);
    }
    ~ForegroundWindow() { DestroyWindow(window_); }
    ForegroundWindow(const ForegroundWindow&) = delete;
    ForegroundWindow& operator=(const ForegroundWindow&) = delete;

private:
    HWND window_;
};

// Ends a viewer that the module no longer ends itself, and waits for it.
inline void EndViewer(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

// The stand-in viewer (hh.exe beside the test program) put where the module
// takes the viewer from, the Windows directory, for as long as this lives;
// the viewer that was there is kept aside and put back. A run that died
// before putting it back left it aside: that one is kept, not the stand-in.
class StandInViewer {
public:
    StandInViewer()
    {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        standIn_ = path;
        standIn_.replace(standIn_.find_last_of(L'\\') + 1, std::wstring::npos, L"hh.exe");
        GetSystemWindowsDirectoryW(path, MAX_PATH);
        installed_ = std::wstring(path) + L"\\hh.exe";
        saved_ = installed_ + L".ivro-saved";
        if (GetFileAttributesW(saved_.c_str()) == INVALID_FILE_ATTRIBUTES)
            MoveFileW(installed_.c_str(), saved_.c_str());
        // A viewer that is still ending may hold the file for a moment.
        for (int wait = 0; wait < 250 && !CopyFileW(standIn_.c_str(), installed_.c_str(), FALSE); ++wait)
            Sleep(20);
    }
    ~StandInViewer()
    {
        const bool keptAside = GetFileAttributesW(saved_.c_str()) != INVALID_FILE_ATTRIBUTES;
        for (int wait = 0; wait < 250; ++wait) {
            if (keptAside ? MoveFileExW(saved_.c_str(), installed_.c_str(), MOVEFILE_REPLACE_EXISTING)
                          : DeleteFileW(installed_.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
                return;
            Sleep(20);
        }
    }
    StandInViewer(const StandInViewer&) = delete;
    StandInViewer& operator=(const StandInViewer&) = delete;

    const std::wstring& StandIn() const { return standIn_; }    // beside the test program
    const std::wstring& Installed() const { return installed_; } // in the Windows directory

private:
    std::wstring standIn_, installed_, saved_;
};
