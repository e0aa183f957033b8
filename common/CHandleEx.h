#pragma once
#include "common/CObjectExPtr.h"

// True for a handle that may be waited on, set or closed.
inline bool IsValidHandleEx(HANDLE handle) noexcept
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Sole owner of one raw kernel handle; closes it when the last reference goes.
class _HandleEx : public CObjectEx
{
public:
    explicit _HandleEx(HANDLE handle) noexcept : m_handle(handle) {}
    ~_HandleEx() override
    {
        if (IsValidHandleEx(m_handle))
            CloseHandle(m_handle);
    }
    _HandleEx(const _HandleEx&) = delete;
    _HandleEx& operator=(const _HandleEx&) = delete;

    HANDLE Get() const noexcept { return m_handle; }

private:
    HANDLE m_handle;
};

// Value-like shared kernel handle: copies share one _HandleEx (no duplication), and the
// handle is closed once, when the last copy goes.
class CHandleEx : public CObjectEx
{
public:
    CHandleEx() noexcept = default;
    // Takes ownership of a raw handle; null and INVALID_HANDLE_VALUE leave the wrapper empty.
    explicit CHandleEx(HANDLE handle) { Attach(handle); }

    // The kernel handle, or INVALID_HANDLE_VALUE when the wrapper is empty.
    HANDLE GetHandle() const noexcept { return m_shared ? m_shared->Get() : INVALID_HANDLE_VALUE; }
    bool IsValid() const noexcept { return IsValidHandleEx(GetHandle()); }

    // A handle whose owner cannot be made (out of memory) is closed before the failure
    // leaves, so that it is never lost.
    void Attach(HANDLE handle)
    {
        if (!IsValidHandleEx(handle))
        {
            m_shared = nullptr;
            return;
        }
        try
        {
            m_shared = MakeObjectEx<_HandleEx>(handle);
        }
        catch (...)
        {
            CloseHandle(handle);
            throw;
        }
    }
    // Drops this copy's share; the handle closes when no other copy holds it.
    void Close() noexcept { m_shared.Reset(); }

    // Waits on the handle; an invalid handle is not waited on and answers WAIT_FAILED.
    DWORD Wait(DWORD milliseconds) const noexcept
    {
        return IsValid() ? WaitForSingleObject(GetHandle(), milliseconds) : WAIT_FAILED;
    }

private:
    _CObjectExPtr<_HandleEx> m_shared;
};

// Unnamed manual-reset event.
class CEventEx : public CHandleEx
{
public:
    // Creates a new event, not signalled; the previous handle is dropped first.
    BOOL Create();
    // Setting or resetting an invalid event is skipped and answers FALSE.
    BOOL Set() const noexcept { return IsValid() && SetEvent(GetHandle()); }
    BOOL Reset() const noexcept { return IsValid() && ResetEvent(GetHandle()); }
    bool IsSet() const noexcept { return Wait(0) == WAIT_OBJECT_0; }
};

class CMutexEx : public CHandleEx
{
public:
    // Creates a mutex that is not initially owned; a null name makes it unnamed. A name
    // already used by another process refers to the same kernel object.
    BOOL Create(LPCWSTR name);
};

class CThreadEx : public CHandleEx
{
public:
    // Starts a thread running startRoutine(context), at once or, with CREATE_SUSPENDED, when
    // resumed; returns its identifier, or 0 (wrapper left empty) when it could not be made.
    // A non-zero stackReserve is the address space reserved for its stack (Windows commits
    // the pages as the thread touches them); 0 takes the program's default reserve.
    DWORD Create(LPTHREAD_START_ROUTINE startRoutine, LPVOID context, DWORD creationFlags = 0, SIZE_T stackReserve = 0);
    // Lets a thread made suspended run; FALSE when it could not be resumed.
    BOOL Resume() const noexcept { return IsValid() && ResumeThread(GetHandle()) != static_cast<DWORD>(-1); }
    // A thread counts as running while a wait of 0 ms on it times out.
    bool IsRunning() const noexcept { return Wait(0) == WAIT_TIMEOUT; }
};

class CProcessEx : public CHandleEx
{
public:
    // Opens another process by identifier with the given access.
    BOOL Open(DWORD processId, DWORD access);
};
