#include "CtxChannel.h"
#include "CtxEndpointConfig.h"
#include <cstring>

CtxChannel::CtxChannel(std::string name)
    : m_name(std::move(name)), m_written(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

BOOL CtxChannel::Write(const BYTE* data, ULONG length, ULONG* written)
{
    std::string hex;
    for (ULONG i = 0; i < length && data; ++i)
    {
        char pair[3];
        snprintf(pair, sizeof(pair), "%02X", data[i]);
        hex += pair;
    }
    CtxTrace("Write %s", hex.c_str());
    const CtxEndpointConfig config = CtxEndpointConfig::Read();
    if (config.hasReply)
    {
        AcquireSRWLockExclusive(&m_lock);
        m_due.push_back(GetTickCount64() + config.replyDelayMs);
        ReleaseSRWLockExclusive(&m_lock);
        SetEvent(m_written.get());
    }
    if (written)
        *written = length;
    return TRUE;
}

BOOL CtxChannel::Read(HANDLE cancel, DWORD timeoutMs, BYTE* buffer, ULONG size, ULONG* read)
{
    if (read)
        *read = 0;
    const CtxEndpointConfig config = CtxEndpointConfig::Read();
    if (config.hasReadError)
    {
        SetLastError(config.readError);
        return FALSE;
    }
    const bool cancellable = cancel != nullptr && cancel != INVALID_HANDLE_VALUE;
    const ULONGLONG start = GetTickCount64();
    for (;;)
    {
        // How long until the oldest pending reply is due, if there is one.
        AcquireSRWLockShared(&m_lock);
        const bool pending = !m_due.empty();
        const ULONGLONG due = pending ? m_due.front() : 0;
        ReleaseSRWLockShared(&m_lock);

        const ULONGLONG now = GetTickCount64();
        DWORD wait = INFINITE;
        if (pending)
            wait = due > now ? static_cast<DWORD>(due - now) : 0;
        if (timeoutMs != INFINITE)
        {
            const ULONGLONG spent = now - start;
            const DWORD left = spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
            if (left < wait)
                wait = left;
        }
        HANDLE events[2] = { m_written.get(), cancel };
        const DWORD woke = WaitForMultipleObjects(cancellable ? 2 : 1, events, FALSE, wait);
        if (woke == WAIT_OBJECT_0 + 1)
        {
            SetLastError(ERROR_CANCELLED);
            return FALSE;
        }
        if (woke == WAIT_OBJECT_0)
            continue; // a new write: look at the queue again
        if (woke != WAIT_TIMEOUT)
            return FALSE;
        if (pending && GetTickCount64() >= due)
            break;
        if (timeoutMs != INFINITE && GetTickCount64() - start >= timeoutMs)
        {
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
    }

    AcquireSRWLockExclusive(&m_lock);
    m_due.pop_front();
    ReleaseSRWLockExclusive(&m_lock);
    const std::vector<BYTE>& reply = config.reply;
    if (reply.size() > size || (reply.size() > 0 && buffer == nullptr))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!reply.empty())
        memcpy(buffer, reply.data(), reply.size());
    if (read)
        *read = static_cast<ULONG>(reply.size());
    CtxTrace("Reply %lu bytes", static_cast<unsigned long>(reply.size()));
    return TRUE;
}
