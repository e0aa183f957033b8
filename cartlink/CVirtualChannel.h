#pragma once
#include "common/CHandleEx.h"

// A raw virtual channel to the user's endpoint: open by name, read, write, close. Every
// operation answers TRUE on success and FALSE on failure; none throws.
class CVirtualChannel : public CObjectEx
{
public:
    // Opens the named channel, closing an open one first.
    virtual BOOL Open(LPCWSTR name) = 0;
    // FALSE when no channel is open.
    virtual BOOL Close() = 0;
    // Waits at most timeoutMs for one packet.
    virtual BOOL Read(DWORD timeoutMs, BYTE* buffer, DWORD size, DWORD* count) = 0;
    // Waits for one packet until it arrives or cancel is set (an empty event waits for the packet alone).
    virtual BOOL ReadEx(const CEventEx& cancel, BYTE* buffer, DWORD size, DWORD* count) = 0;
    virtual BOOL Write(const BYTE* buffer, DWORD length, DWORD* written) = 0;
    // The largest packet the endpoint takes; 0 unless the query succeeds.
    virtual BOOL QueryPacketSize(WORD* size) = 0;
};
