// A Windows function declared by hand, without dllimport: its call is a
// plain undefined symbol, not an __imp_ one, and module_seam must refuse it
// all the same.
__declspec(dllexport) unsigned long TempFolder(unsigned short* path);
unsigned long __stdcall GetTempPathW(unsigned long units, unsigned short* path);

unsigned long TempFolder(unsigned short* path)
{
    return GetTempPathW(260, path);
}
