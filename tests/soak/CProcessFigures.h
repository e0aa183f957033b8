#pragma once
// What a benchmark reads of another running process to tell whether it grows: its kernel
// handles, its committed private memory, its threads and its window-manager objects.
//
// Wine answers 0 from GetProcessHandleCount for every process, so handles are counted in
// the system handle table (NtQuerySystemInformation, SystemExtendedHandleInformation), which
// Wine fills from its server: one row per handle, the owner's process ID in each. Committed
// private memory is the sum of the committed private regions (VirtualQueryEx), which counts
// heaps and stacks but not images or mapped files. Wine answers 0 from GetGuiResources as
// well; where it does, the USER objects are counted as the process's windows (top-level and
// child), and the GDI objects are unknown (-1).
#include <windows.h>

struct KelvoProcessFigures
{
    int handles = -1;
    double privateMb = 0.0;
    int threads = -1;
    int userObjects = -1;
    int gdiObjects = -1;
};

class CProcessFigures
{
public:
    // All figures of the process, which must be open with PROCESS_QUERY_INFORMATION.
    static KelvoProcessFigures Read(HANDLE process);
    // The least of each figure over a few readings a short while apart: what the process
    // holds for good, without the handle of an exchange or the thread of a report that is
    // just passing.
    static KelvoProcessFigures ReadSettled(HANDLE process, int readings = 5, DWORD apartMs = 60);

    // Rows of the system handle table that belong to the process; -1 when the table cannot be read.
    static int CountHandles(DWORD processId);
    static double CommittedPrivateMb(HANDLE process);
    static int CountThreads(DWORD processId);
    // The windows of the process, its top-level windows and all their children.
    static int CountWindows(DWORD processId);
};
