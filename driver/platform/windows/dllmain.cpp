// The module's load hook. Loading and unloading do no work of the driver's own:
// everything is set up by the cold start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
