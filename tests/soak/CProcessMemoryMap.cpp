#include "tests/soak/CProcessMemoryMap.h"
#include "common/CUniqueAnyEx.h"
#include <psapi.h>
#include <tlhelp32.h>
#include <algorithm>
#include <cstdio>
#include <map>

namespace
{
// Offsets of the 64-bit TEB and PEB fields read here (the same under Wine).
constexpr SIZE_T kTebStackBase = 0x08;
constexpr SIZE_T kTebDeallocationStack = 0x1478;
constexpr SIZE_T kPebProcessHeap = 0x30;
constexpr ULONG kThreadBasicInformation = 0;
constexpr ULONG kThreadStartAddress = 9;
constexpr ULONG kProcessBasicInformation = 0;

struct ThreadBasic
{
    LONG exitStatus;
    PVOID tebBase;
    HANDLE clientProcess;
    HANDLE clientThread;
    ULONG_PTR affinity;
    LONG priority;
    LONG basePriority;
};

struct ProcessBasic
{
    LONG exitStatus;
    PVOID pebBase;
    ULONG_PTR affinity;
    LONG basePriority;
    ULONG_PTR processId;
    ULONG_PTR parentId;
};

using QueryInformation = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

QueryInformation NtFunction(const char* name)
{
    return reinterpret_cast<QueryInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

template <typename T>
bool ReadValue(HANDLE process, ULONG_PTR address, T& value)
{
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), &value, sizeof(value), &read) &&
           read == sizeof(value);
}

SIZE_T CommittedIn(HANDLE process, ULONG_PTR from, ULONG_PTR to)
{
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION info;
    for (ULONG_PTR address = from; address < to &&
         VirtualQueryEx(process, reinterpret_cast<LPCVOID>(address), &info, sizeof(info)) == sizeof(info);
         address = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize)
    {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            committed += std::min<ULONG_PTR>(to, reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize) -
                         std::max<ULONG_PTR>(from, reinterpret_cast<ULONG_PTR>(info.BaseAddress));
        if (info.RegionSize == 0)
            break;
    }
    return committed;
}

// The lowest address of the stack whose byte is not zero; pages that cannot be read
// (guard pages, reserved pages) count as untouched.
ULONG_PTR LowestUsed(HANDLE process, ULONG_PTR bottom, ULONG_PTR base)
{
    std::vector<BYTE> page(4096);
    for (ULONG_PTR address = bottom; address < base; address += page.size())
    {
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), page.data(), page.size(), &read))
            continue;
        for (SIZE_T i = 0; i < read; ++i)
        {
            if (page[i] != 0)
                return address + i;
        }
    }
    return base;
}

std::string Mb(SIZE_T bytes)
{
    char text[32];
    snprintf(text, sizeof(text), "%.2f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string Kb(SIZE_T bytes)
{
    char text[32];
    snprintf(text, sizeof(text), "%zu KB", (bytes + 1023) / 1024);
    return text;
}
}

bool CProcessMemoryMap::Read(HANDLE process)
{
    m_stacks.clear();
    m_stackBottoms.clear();
    m_heaps.clear();
    m_allocations.clear();
    m_total = 0;
    ReadStacks(process);
    ReadHeaps(process);
    ReadAllocations(process);
    return m_total > 0;
}

void CProcessMemoryMap::ReadStacks(HANDLE process)
{
    static const QueryInformation queryThread = NtFunction("NtQueryInformationThread");
    CFileHandleEx snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || queryThread == nullptr)
        return;
    const DWORD processId = GetProcessId(process);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
    {
        if (entry.th32OwnerProcessID != processId)
            continue;
        CKernelHandleEx thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        ThreadBasic basic = {};
        if (!thread || queryThread(thread.Get(), kThreadBasicInformation, &basic, sizeof(basic), nullptr) != 0)
            continue;
        const auto teb = reinterpret_cast<ULONG_PTR>(basic.tebBase);
        ULONG_PTR base = 0, bottom = 0;
        if (!ReadValue(process, teb + kTebStackBase, base) || !ReadValue(process, teb + kTebDeallocationStack, bottom) ||
            bottom == 0 || bottom >= base)
            continue;
        Stack stack;
        stack.threadId = entry.th32ThreadID;
        stack.reserve = base - bottom;
        stack.committed = CommittedIn(process, bottom, base);
        stack.reached = base - LowestUsed(process, bottom, base);
        ULONG_PTR start = 0;
        if (queryThread(thread.Get(), kThreadStartAddress, &start, sizeof(start), nullptr) == 0)
            stack.start = DescribeAddress(process, start);
        m_stacks.push_back(stack);
        m_stackBottoms.push_back(bottom);
    }
}

std::string CProcessMemoryMap::DescribeAddress(HANDLE process, ULONG_PTR address)
{
    MEMORY_BASIC_INFORMATION info = {};
    wchar_t path[MAX_PATH] = {};
    if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(address), &info, sizeof(info)) != sizeof(info) ||
        GetMappedFileNameW(process, reinterpret_cast<LPVOID>(address), path, MAX_PATH) == 0)
        return "?";
    const wchar_t* name = wcsrchr(path, L'\\') ? wcsrchr(path, L'\\') + 1 : path;
    char text[MAX_PATH + 32];
    snprintf(text, sizeof(text), "%ls+0x%llx", name,
             static_cast<unsigned long long>(address - reinterpret_cast<ULONG_PTR>(info.AllocationBase)));
    return text;
}

void CProcessMemoryMap::ReadHeaps(HANDLE process)
{
    static const QueryInformation queryProcess = NtFunction("NtQueryInformationProcess");
    ProcessBasic basic = {};
    if (queryProcess == nullptr || queryProcess(process, kProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return;
    // Wine leaves the PEB's list of heaps empty; the process heap is always named.
    ULONG_PTR heap = 0;
    if (ReadValue(process, reinterpret_cast<ULONG_PTR>(basic.pebBase) + kPebProcessHeap, heap) && heap != 0)
        m_heaps.push_back(heap);
}

void CProcessMemoryMap::ReadAllocations(HANDLE process)
{
    std::map<ULONG_PTR, SIZE_T> byBase;
    MEMORY_BASIC_INFORMATION info;
    for (BYTE* address = nullptr; VirtualQueryEx(process, address, &info, sizeof(info)) == sizeof(info);
         address = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize)
    {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
        {
            byBase[reinterpret_cast<ULONG_PTR>(info.AllocationBase)] += info.RegionSize;
            m_total += info.RegionSize;
        }
        if (info.RegionSize == 0)
            break;
    }
    for (const auto& allocation : byBase)
    {
        if (std::find(m_stackBottoms.begin(), m_stackBottoms.end(), allocation.first) != m_stackBottoms.end())
            continue;
        Allocation entry;
        entry.base = allocation.first;
        entry.committed = allocation.second;
        entry.heap = std::find(m_heaps.begin(), m_heaps.end(), allocation.first) != m_heaps.end();
        m_allocations.push_back(entry);
    }
    std::sort(m_allocations.begin(), m_allocations.end(),
              [](const Allocation& a, const Allocation& b) { return a.committed > b.committed; });
}

std::vector<std::string> CProcessMemoryMap::Describe(size_t largest) const
{
    std::vector<std::string> lines;
    lines.push_back("committed private memory: " + Mb(m_total));
    SIZE_T stacks = 0, reached = 0;
    for (const Stack& stack : m_stacks)
    {
        stacks += stack.committed;
        reached += stack.reached;
        char line[160];
        snprintf(line, sizeof(line), "  thread %lu (from %s) stack: reserve %s, committed %s, deepest use %s",
                 stack.threadId, stack.start.c_str(), Kb(stack.reserve).c_str(), Kb(stack.committed).c_str(),
                 Kb(stack.reached).c_str());
        lines.push_back(line);
    }
    lines.push_back("  stacks together: committed " + Mb(stacks) + ", touched " + Mb(reached));
    SIZE_T heaps = 0, others = 0;
    for (const Allocation& allocation : m_allocations)
        (allocation.heap ? heaps : others) += allocation.committed;
    lines.push_back("  the process heap (its first region): " + Mb(heaps));
    lines.push_back("  other private allocations: " + Mb(others) + " in " +
                    std::to_string(m_allocations.size() - (heaps ? 1 : 0)) + " allocations; the largest:");
    for (size_t i = 0; i < m_allocations.size() && i < largest; ++i)
    {
        char line[160];
        snprintf(line, sizeof(line), "    %p %s%s", reinterpret_cast<void*>(m_allocations[i].base),
                 Kb(m_allocations[i].committed).c_str(), m_allocations[i].heap ? " (heap)" : "");
        lines.push_back(line);
    }
    return lines;
}
