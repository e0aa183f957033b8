#include "configsec/ConfigSec.h"
#include "configsec/CADCartAccessDlg.h"
#include "configsec/ConfigSecInstance.h"
#include <objbase.h>
#include <new>

namespace
{
// The directory and WMI searches need COM on the calling thread; a caller that has not
// initialised it gets it for the length of the call.
class CComScope
{
public:
    CComScope() noexcept : m_initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~CComScope()
    {
        if (m_initialised)
            CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    bool m_initialised;
};
}

DWORD WINAPI ConfigSecInitInstance(HINSTANCE resourceModule, const wchar_t* version, const wchar_t* caption,
                                   size_t captionLength)
{
    try
    {
        return ConfigSecInstance::Create().Initialise(resourceModule, version, caption, captionLength);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    catch (...)
    {
        return ERROR_GEN_FAILURE;
    }
}

void WINAPI ConfigSecTermInstance(void)
{
    ConfigSecInstance::Delete();
}

int WINAPI ConfigSecCartAccess(HWND parent, const wchar_t* value, size_t valueLength, wchar_t** result,
                               size_t* resultLength)
{
    if (result == nullptr || resultLength == nullptr)
        return -1;
    // A buffer from an earlier call is freed first; the outputs stay empty unless the
    // user accepts a non-empty list.
    if (*result)
        ConfigSecHeap::Free(*result);
    *result = nullptr;
    *resultLength = 0;
    const ConfigSecInstance* instance = ConfigSecInstance::Current();
    if (instance == nullptr || !instance->IsInitialised())
        return -1;
    try
    {
        // The caller's length bounds every read of its text.
        const size_t length = value ? wcsnlen(value, valueLength) : 0;
        if (length > static_cast<size_t>(INT_MAX))
            return -1;
        const CStringEx given(value, static_cast<int>(length));

        CStringEx accepted;
        const CComScope com;
        const int answer = CADCartAccessDlg::Run(parent, given, accepted);
        if (answer != IDOK || accepted.IsEmpty())
            return answer;

        const size_t count = static_cast<size_t>(accepted.GetLength());
        wchar_t* buffer = ConfigSecHeap::Allocate(count + 1);
        if (buffer == nullptr)
            return -1;
        wmemcpy(buffer, accepted.GetString(), count + 1);
        *result = buffer;
        *resultLength = count;
        return IDOK;
    }
    catch (...)
    {
        // Nothing crosses the library's boundary: a failure means the dialog could not run.
        return -1;
    }
}

void WINAPI ConfigSecFreeMemory(wchar_t* buffer)
{
    const ConfigSecInstance* instance = ConfigSecInstance::Current();
    if (buffer == nullptr || instance == nullptr || !instance->IsInitialised())
        return;
    ConfigSecHeap::Free(buffer);
}
