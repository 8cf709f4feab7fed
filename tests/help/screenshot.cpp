// Opens the help for @exp through the real module, with the viewer the module
// finds on its own, waits for the viewer's window and saves a picture of it:
//   help_screenshot OUT.bmp
// Run in the build's bin folder, beside the module and the built Ivro.chm,
// under an X server. Exit code 0 when the picture was saved.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "plugin/protocol.h"
#include "shell/host_api.h"
#include "ivro_platform.h"

namespace {

// True when the process that owns `window` runs hh.exe.
bool BelongsToViewer(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return false;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameW(process, 0, image, &size);
    CloseHandle(process);
    return size >= 6 && _wcsicmp(image + size - 6, L"hh.exe") == 0;
}

BOOL CALLBACK NoteViewerWindow(HWND window, LPARAM found)
{
    if (!IsWindowVisible(window) || !BelongsToViewer(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The first visible top-level window of a process running hh.exe.
HWND FindViewerWindow()
{
    HWND found = nullptr;
    EnumWindows(NoteViewerWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool SaveWindow(HWND window, const wchar_t* path)
{
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (DWORD(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(stride * DWORD(height));
    GetDIBits(memory, bitmap, 0, UINT(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + DWORD(pixels.size());
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &written, nullptr) &&
              WriteFile(out, &header, sizeof header, &written, nullptr) &&
              WriteFile(out, pixels.data(), DWORD(pixels.size()), &written, nullptr);
    CloseHandle(out);
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: help_screenshot OUT.bmp\n");
        return 2;
    }
    if (HostLoadModule(L"" IVRO_FILE_NAME) != 0)
        return 1;
    HMODULE module = GetModuleHandleW(L"" IVRO_FILE_NAME);
    auto help = reinterpret_cast<HelpProc>(reinterpret_cast<void*>(GetProcAddress(module, "Help")));
    wchar_t name[] = L"@exp";
    int result = help(name);

    HWND viewer = nullptr;
    for (int wait = 0; wait < 200 && viewer == nullptr; ++wait) {
        Sleep(100);
        viewer = FindViewerWindow();
    }
    bool saved = false;
    if (viewer != nullptr) {
        SetWindowPos(viewer, HWND_TOP, 20, 20, 900, 640, SWP_SHOWWINDOW);
        Sleep(3000); // let the page render
        saved = SaveWindow(viewer, argv[1]);
    }
    HostUnloadModule(); // ends the viewer
    fwprintf(stderr, L"Help returned %d; viewer window %ls; picture %ls\n", result, viewer ? L"found" : L"not found",
             saved ? L"saved" : L"not saved");
    return saved ? 0 : 1;
}
