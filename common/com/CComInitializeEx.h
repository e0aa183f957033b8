#pragma once
#include <windows.h>
#include <objbase.h>

// COM initialised on the calling thread for the life of the object, in the apartment asked
// for. Only an initialisation that succeeded (S_OK, or S_FALSE when the thread already was
// in that apartment) is undone at the end: a failed one (RPC_E_CHANGED_MODE, the thread is
// in the other apartment) belongs to whoever initialised the thread first, and uninitialising
// it would end their COM.
class CComInitializeEx
{
public:
    explicit CComInitializeEx(DWORD model = COINIT_APARTMENTTHREADED) noexcept : m_result(CoInitializeEx(nullptr, model)) {}
    ~CComInitializeEx()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    CComInitializeEx(const CComInitializeEx&) = delete;
    CComInitializeEx& operator=(const CComInitializeEx&) = delete;

    // S_OK when this object initialised COM here, S_FALSE when it was already initialised
    // in the same apartment, or the failure.
    HRESULT Result() const noexcept { return m_result; }

private:
    HRESULT m_result;
};
