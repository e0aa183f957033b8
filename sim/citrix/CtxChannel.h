#pragma once
#include <windows.h>
#include <deque>
#include <memory>
#include <string>

// One open virtual channel of the stand-in endpoint. Every packet written to it earns one
// reply (when the endpoint is configured with one), due a configured delay after the write;
// reads hand the replies out in order.
class CtxChannel
{
public:
    explicit CtxChannel(std::string name);
    CtxChannel(const CtxChannel&) = delete;
    CtxChannel& operator=(const CtxChannel&) = delete;

    BOOL Write(const BYTE* data, ULONG length, ULONG* written);
    // Waits for the next reply until it is due, the cancel event is set or timeoutMs passes.
    BOOL Read(HANDLE cancel, DWORD timeoutMs, BYTE* buffer, ULONG size, ULONG* read);

    const std::string& Name() const { return m_name; }

private:
    struct EventCloser
    {
        void operator()(HANDLE h) const { if (h) CloseHandle(h); }
    };

    std::string m_name;
    SRWLOCK m_lock = SRWLOCK_INIT;
    std::deque<ULONGLONG> m_due;        // when each pending reply arrives
    std::unique_ptr<void, EventCloser> m_written; // set by each write, wakes a waiting read
};
