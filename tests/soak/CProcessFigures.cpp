#include "tests/soak/CProcessFigures.h"
#include "common/CUniqueAnyEx.h"
#include <tlhelp32.h>
#include <algorithm>
#include <vector>

namespace
{
// The system information class of the handle table with full-width process IDs, and its rows.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleRow
{
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable
{
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleRow rows[1];
};

using QuerySystemInformation = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

struct WindowCount
{
    DWORD processId;
    int count;
};

BOOL CALLBACK CountChild(HWND, LPARAM parameter)
{
    ++reinterpret_cast<WindowCount*>(parameter)->count;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM parameter)
{
    auto* windows = reinterpret_cast<WindowCount*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == windows->processId)
    {
        ++windows->count;
        EnumChildWindows(window, CountChild, parameter);
    }
    return TRUE;
}
}

KelvoProcessFigures CProcessFigures::Read(HANDLE process)
{
    KelvoProcessFigures figures;
    const DWORD processId = GetProcessId(process);
    figures.handles = CountHandles(processId);
    figures.privateMb = CommittedPrivateMb(process);
    figures.threads = CountThreads(processId);
    const int user = static_cast<int>(GetGuiResources(process, GR_USEROBJECTS));
    const int gdi = static_cast<int>(GetGuiResources(process, GR_GDIOBJECTS));
    // A process with a window holds USER objects; 0 for both is the answer of a layer that
    // does not count them.
    figures.userObjects = user || gdi ? user : CountWindows(processId);
    figures.gdiObjects = user || gdi ? gdi : -1;
    return figures;
}

KelvoProcessFigures CProcessFigures::ReadSettled(HANDLE process, int readings, DWORD apartMs)
{
    KelvoProcessFigures least = Read(process);
    for (int i = 1; i < readings; ++i)
    {
        Sleep(apartMs);
        const KelvoProcessFigures now = Read(process);
        least.handles = std::min(least.handles, now.handles);
        least.privateMb = std::min(least.privateMb, now.privateMb);
        least.threads = std::min(least.threads, now.threads);
        least.userObjects = std::min(least.userObjects, now.userObjects);
        least.gdiObjects = std::min(least.gdiObjects, now.gdiObjects);
    }
    return least;
}

int CProcessFigures::CountHandles(DWORD processId)
{
    static const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr)
        return -1;
    // The table grows between two calls as other processes open handles: ask again with room
    // to spare, and start the next count with the size this one needed.
    static thread_local std::vector<BYTE> buffer(256 * 1024);
    LONG status = kStatusInfoLengthMismatch;
    for (int attempt = 0; attempt < 8 && status == kStatusInfoLengthMismatch; ++attempt)
    {
        ULONG needed = 0;
        status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kStatusInfoLengthMismatch)
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 64 * 1024));
    }
    if (status != 0)
        return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const size_t fits = (buffer.size() - offsetof(HandleTable, rows)) / sizeof(HandleRow);
    int count = 0;
    for (ULONG_PTR i = 0; i < table->count && i < fits; ++i)
        count += table->rows[i].processId == processId ? 1 : 0;
    return count;
}

double CProcessFigures::CommittedPrivateMb(HANDLE process)
{
    ULONGLONG bytes = 0;
    MEMORY_BASIC_INFORMATION info;
    for (BYTE* address = nullptr; VirtualQueryEx(process, address, &info, sizeof(info)) == sizeof(info);
         address = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize)
    {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            bytes += info.RegionSize;
        if (info.RegionSize == 0)
            break;
    }
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

int CProcessFigures::CountThreads(DWORD processId)
{
    CFileHandleEx snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        count += entry.th32OwnerProcessID == processId ? 1 : 0;
    return count;
}

int CProcessFigures::CountWindows(DWORD processId)
{
    WindowCount windows{processId, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
    return windows.count;
}
