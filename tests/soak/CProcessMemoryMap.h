#pragma once
// Where the committed private memory of another process goes: each thread's stack (its
// reserve, what is committed of it, and how deep the thread has ever reached, read as the
// lowest non-zero byte of the stack), the process heap, and every
// other private allocation, largest first. A layer that commits whole stacks at once (Wine)
// counts the full reserve; Windows commits a stack page by page as it is touched, so the
// depth reached tells what the same thread would cost there.
#include <windows.h>
#include <string>
#include <vector>

class CProcessMemoryMap
{
public:
    struct Stack
    {
        DWORD threadId = 0;
        SIZE_T reserve = 0;    // from the bottom of its allocation to its base
        SIZE_T committed = 0;  // committed private bytes within it
        SIZE_T reached = 0;    // from the base down to the lowest byte that is not zero
        std::string start;     // the module of its start address, with the offset in it
    };
    struct Allocation
    {
        ULONG_PTR base = 0;
        SIZE_T committed = 0;
        bool heap = false;     // the process heap
    };

    // Reads the process (open with PROCESS_QUERY_INFORMATION | PROCESS_VM_READ). FALSE when
    // its memory cannot be walked.
    bool Read(HANDLE process);

    const std::vector<Stack>& GetStacks() const { return m_stacks; }
    // Committed private allocations that are not stacks, largest first.
    const std::vector<Allocation>& GetAllocations() const { return m_allocations; }
    SIZE_T GetTotal() const { return m_total; }
    // The map as lines of text, for a person to read.
    std::vector<std::string> Describe(size_t largest = 12) const;

private:
    void ReadStacks(HANDLE process);
    void ReadHeaps(HANDLE process);
    void ReadAllocations(HANDLE process);

    static std::string DescribeAddress(HANDLE process, ULONG_PTR address);

    std::vector<Stack> m_stacks;
    std::vector<ULONG_PTR> m_stackBottoms;
    std::vector<ULONG_PTR> m_heaps;
    std::vector<Allocation> m_allocations;
    SIZE_T m_total = 0;
};
