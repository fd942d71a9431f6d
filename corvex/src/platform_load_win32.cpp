// The library's load and unload on Windows.
#include <windows.h>

#include "state.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  // Loading the driver is left to the first call: no library loads under the loader lock.
  if (reason == DLL_PROCESS_DETACH) corvex::unload();
  return TRUE;
}
