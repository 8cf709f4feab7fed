// A library that calls what Windows XP does not have, built without the
// module's oldest-Windows settings: the module_tables check must refuse it.
#include <windows.h>

__declspec(dllexport) ULONGLONG Uptime(void);

ULONGLONG Uptime(void)
{
    return GetTickCount64();
}
