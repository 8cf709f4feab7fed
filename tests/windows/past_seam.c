// Calls made outside the seam, which the module_seam check must refuse: a
// Windows function through its header and a file function of the C runtime.
// Built with the seam's own object beside it, never run.
#include <stdio.h>
#include <windows.h>

__declspec(dllexport) int Remove(const wchar_t* name);

int Remove(const wchar_t* name)
{
    return DeleteFileW(name) && _wfopen(name, L"rb") != NULL;
}
