// What the help tests and the soak know of the viewer processes the module
// starts.
#pragma once

#include <windows.h>

#include <string>

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
        GetWindowsDirectoryW(path, MAX_PATH);
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
