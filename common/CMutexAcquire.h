#pragma once
#include "common/CHandleEx.h"

// Scoped lock on a CMutexEx with a 500 ms limit. Callers must test IsAcquired() and treat
// a failed acquisition as a busy resource; nothing is owned or released then.
class CMutexAcquire : public CObjectEx
{
public:
    static constexpr DWORD kTimeoutMs = 500;

    explicit CMutexAcquire(const CMutexEx& mutex) noexcept : m_mutex(mutex)
    {
        const DWORD wait = m_mutex.Wait(kTimeoutMs);
        m_acquired = (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ? 1 : 0;
    }
    ~CMutexAcquire() override
    {
        if (m_acquired)
            ReleaseMutex(m_mutex.GetHandle());
    }
    CMutexAcquire(const CMutexAcquire&) = delete;
    CMutexAcquire& operator=(const CMutexAcquire&) = delete;

    bool IsAcquired() const noexcept { return m_acquired != 0; }

private:
    CMutexEx m_mutex;
    DWORD m_acquired;
};
