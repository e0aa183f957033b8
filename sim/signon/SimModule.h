// The stand-in DLL itself: its module handle and the count of live objects that keeps it loaded.
#pragma once
#include <windows.h>

HMODULE SimModuleHandle();
void SimModuleLock();
void SimModuleUnlock();
