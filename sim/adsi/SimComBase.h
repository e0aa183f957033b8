#pragma once
#include <windows.h>
#include <oleauto.h>
#include <atomic>
#include <string>

// Objects alive in this DLL; DllCanUnloadNow answers S_OK only at zero.
extern std::atomic<long> g_simObjects;
// Opens and searches served since the DLL was loaded (read through KelvoAdsiSimCallCount).
extern std::atomic<long> g_simCalls;
// Sets this thread's last ADSI error, as a provider does after each search step: in ADSI's
// own slot (Windows' activeds keeps it; Wine's is a stub) and in the stand-in's, which tests
// read through KelvoAdsiSimLastError.
void SimSetLastAdsiError(DWORD error);

// Reference count shared by the stand-in's COM objects; an object starts with one
// reference, which its creator hands over. The object deletes itself when its Release
// brings the count to zero (SIM_REFCOUNTED).
class SimRefCount
{
protected:
    SimRefCount() noexcept { ++g_simObjects; }
    ~SimRefCount() { --g_simObjects; }
    ULONG DoAddRef() noexcept { return ++m_refs; }
    ULONG DoRelease() noexcept { return --m_refs; }

private:
    std::atomic<ULONG> m_refs{ 1 };
};

#define SIM_REFCOUNTED                                                                                \
    ULONG WINAPI AddRef() override { return DoAddRef(); }                                           \
    ULONG WINAPI Release() override                                                                 \
    {                                                                                               \
        const ULONG count = DoRelease();                                                            \
        if (count == 0)                                                                             \
            delete this;                                                                            \
        return count;                                                                               \
    }

// The ADSI interfaces derive from IDispatch, but nothing here is reached by late binding.
#define SIM_NO_LATE_BINDING                                                                           \
    HRESULT WINAPI GetTypeInfoCount(UINT* count) override                                           \
    {                                                                                               \
        if (!count)                                                                                 \
            return E_POINTER;                                                                       \
        *count = 0;                                                                                 \
        return S_OK;                                                                                \
    }                                                                                               \
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }              \
    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
    HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override \
    {                                                                                               \
        return E_NOTIMPL;                                                                           \
    }

// Hands out a copy of a text as a BSTR the caller frees.
inline HRESULT SimReturnBstr(const std::wstring& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}
