#pragma once
#include <windows.h>
#include <new>

// A failure inside an operation: a Windows error code or an HRESULT. It is thrown where
// the failure happens and caught once at the operation's boundary, where it is logged
// and turned into the return value. It never crosses a class's public interface.
class CErrorEx
{
public:
    explicit CErrorEx(DWORD code) noexcept : m_code(code) {}

    // The code as thrown: a Windows error code or an HRESULT.
    DWORD Code() const noexcept { return m_code; }
    // The code as an HRESULT (Windows error codes are wrapped with HRESULT_FROM_WIN32).
    HRESULT ToHResult() const noexcept
    {
        return (m_code & 0x80000000u) ? static_cast<HRESULT>(m_code) : HRESULT_FROM_WIN32(m_code);
    }
    // The code as a Windows error code (a Win32-facility HRESULT is unwrapped).
    DWORD ToWin32() const noexcept
    {
        if ((m_code & 0xFFFF0000u) == 0x80070000u)
            return m_code & 0xFFFFu;
        return m_code;
    }

private:
    DWORD m_code;
};

[[noreturn]] inline void ThrowWin32(DWORD code)
{
    throw CErrorEx(code ? code : ERROR_GEN_FAILURE);
}

// Throws the thread's last error (never 0) when a call that returns FALSE failed.
inline void ThrowLastErrorIf(bool failed)
{
    if (failed)
        ThrowWin32(GetLastError());
}

inline void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw CErrorEx(static_cast<DWORD>(hr));
}

// At an operation's boundary, inside a catch (...) block: the HRESULT for the exception
// being handled. Anything that is not a CErrorEx or an allocation failure gives `other`.
inline HRESULT HResultFromCaughtException(HRESULT other = E_FAIL) noexcept
{
    try
    {
        throw;
    }
    catch (const CErrorEx& error)
    {
        return error.ToHResult();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return other;
    }
}
