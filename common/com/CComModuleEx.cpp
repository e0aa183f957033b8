#include "common/com/CComModuleEx.h"
#include "common/CComPtrEx.h"

namespace
{
CComModuleEx* g_module = nullptr;
}

CComModuleEx::CComModuleEx()
{
    g_module = this;
}

CComModuleEx::~CComModuleEx()
{
    ReleaseTypeLibrary();
    if (g_module == this)
        g_module = nullptr;
}

CComModuleEx* CComModuleEx::Instance() noexcept
{
    return g_module;
}

// Objects of the one apartment run on one thread: the count needs no interlocking, but
// a factory's LockServer may come from any thread of a free-threaded client process's
// proxy, so it is interlocked all the same.
LONG CComModuleEx::Lock()
{
    return InterlockedIncrement(&m_lockCount);
}

LONG CComModuleEx::Unlock()
{
    return InterlockedDecrement(&m_lockCount);
}

HRESULT CComModuleEx::GetTypeInfo(REFGUID libid, WORD major, WORD minor, REFIID iid, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    for (const auto& known : m_typeInfos)
    {
        if (IsEqualIID(known.first, iid))
        {
            known.second->AddRef();
            *info = known.second.Get();
            return S_OK;
        }
    }
    if (!m_typeLib)
    {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        HRESULT hr = (length > 0 && length < MAX_PATH) ? LoadTypeLibEx(path, REGKIND_NONE, m_typeLib.Put()) : E_FAIL;
        // A program without the library among its resources (a test) uses the registered one.
        if (FAILED(hr))
            hr = LoadRegTypeLib(libid, major, minor, LOCALE_USER_DEFAULT, m_typeLib.Put());
        if (FAILED(hr))
            return hr;
    }
    CComPtrEx<ITypeInfo> found;
    const HRESULT hr = m_typeLib->GetTypeInfoOfGuid(iid, found.Put());
    if (FAILED(hr))
        return hr;
    m_typeInfos.emplace_back(iid, found);
    *info = found.Detach();
    return S_OK;
}

void CComModuleEx::ReleaseTypeLibrary() noexcept
{
    // The interfaces' information holds its library: it goes first.
    m_typeInfos.clear();
    m_typeLib.Reset();
}
