#include "agent/ProcessCallback.h"
#include "agent/ComCallByPosition.h"
#include "agent/KelvoAgentMessages.h"
#include "cartlink/CKelvoSrwLockHold.h"
#include <mutex>
#include <string>
#include <vector>

namespace
{
// Position of the authentication interface's method that closes the prompt.
constexpr UINT kAuthClosePrompt = 9;

// Owners of the descriptions a type information hands out.
struct TypeAttrHolder
{
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    ~TypeAttrHolder() { if (attr) info->ReleaseTypeAttr(attr); }
};
struct FuncDescHolder
{
    ITypeInfo* info;
    FUNCDESC* desc = nullptr;
    ~FuncDescHolder() { if (desc) info->ReleaseFuncDesc(desc); }
};

// The type information of IProcessCallback, loaded from the registered type library at
// first use and kept for the life of the process, with the names of its methods.
class CallbackTypeInfo
{
public:
    static CallbackTypeInfo& Instance()
    {
        static CallbackTypeInfo instance;
        return instance;
    }

    HRESULT Get(CComPtrEx<ITypeInfo>& info)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_info)
        {
            // A failed load is not kept: the library may be registered later.
            const HRESULT hr = Load();
            if (FAILED(hr))
                return hr;
        }
        info = m_info;
        return S_OK;
    }

    // Case-sensitive match of one name against the method names of the interface.
    bool FindName(LPCOLESTR name, DISPID& id)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const size_t length = wcslen(name);
        for (const auto& entry : m_names)
        {
            if (entry.first.size() == length && entry.first.compare(0, length, name) == 0)
            {
                id = entry.second;
                return true;
            }
        }
        return false;
    }

private:
    HRESULT Load()
    {
        CComPtrEx<ITypeLib> library;
        HRESULT hr = LoadRegTypeLib(LIBID_OneSignAuthLib, OneSignAuthLibMajor, OneSignAuthLibMinor, 0,
                                    library.Put());
        if (FAILED(hr))
            return hr;
        CComPtrEx<ITypeInfo> info;
        hr = library->GetTypeInfoOfGuid(IID_IProcessCallback, info.Put());
        if (FAILED(hr))
            return hr;
        // A dual interface is described twice; calls go through its table of functions.
        hr = SwitchToInterfacePart(info);
        if (FAILED(hr))
            return hr;
        std::vector<std::pair<std::wstring, DISPID>> names;
        hr = ReadNames(info.Get(), names);
        if (FAILED(hr))
            return hr;
        m_info = std::move(info);
        m_names = std::move(names);
        return S_OK;
    }

    static HRESULT SwitchToInterfacePart(CComPtrEx<ITypeInfo>& info)
    {
        TypeAttrHolder attr{info.Get()};
        HRESULT hr = info->GetTypeAttr(&attr.attr);
        if (FAILED(hr))
            return hr;
        if (attr.attr->typekind != TKIND_DISPATCH || !(attr.attr->wTypeFlags & TYPEFLAG_FDUAL))
            return S_OK;
        HREFTYPE ref = 0;
        hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
        if (FAILED(hr))
            return hr;
        CComPtrEx<ITypeInfo> part;
        hr = info->GetRefTypeInfo(ref, part.Put());
        if (FAILED(hr))
            return hr;
        info = std::move(part);
        return S_OK;
    }

    static HRESULT ReadNames(ITypeInfo* info, std::vector<std::pair<std::wstring, DISPID>>& names)
    {
        TypeAttrHolder attr{info};
        HRESULT hr = info->GetTypeAttr(&attr.attr);
        if (FAILED(hr))
            return hr;
        for (UINT i = 0; i < attr.attr->cFuncs; ++i)
        {
            FuncDescHolder func{info};
            hr = info->GetFuncDesc(i, &func.desc);
            if (FAILED(hr))
                return hr;
            CBstrEx name;
            UINT count = 0;
            hr = info->GetNames(func.desc->memid, name.Put(), 1, &count);
            if (SUCCEEDED(hr) && count == 1)
                names.emplace_back(std::wstring(name.Text(), name.Length()), func.desc->memid);
        }
        return S_OK;
    }

    std::mutex m_lock;
    CComPtrEx<ITypeInfo> m_info;
    std::vector<std::pair<std::wstring, DISPID>> m_names;
};
}

ProcessCallback* ProcessCallback::Create(HWND agentWindow, IUnknown* auth, ULONG run)
{
    return new ProcessCallback(agentWindow, auth, run);
}

ProcessCallback::ProcessCallback(HWND agentWindow, IUnknown* auth, ULONG run) noexcept
    : m_refCount(0), m_agentWindow(agentWindow), m_run(run), m_spAuth(auth)
{
}

void ProcessCallback::Retire()
{
    CComPtrEx<IUnknown> product;
    {
        CKelvoSrwLockHold hold(m_authLock);
        m_retired = true;
        product = std::move(m_spAuth);
    }
    // The product's last reference may go here, outside the lock.
}

HRESULT ProcessCallback::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    // IDispatch is deliberately refused: callers that want late binding use the type
    // library's description of IProcessCallback.
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IProcessCallback))
    {
        *object = static_cast<IProcessCallback*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ProcessCallback::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG ProcessCallback::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;  // the destructor drops the authentication interface
    return static_cast<ULONG>(count);
}

HRESULT ProcessCallback::GetTypeInfoCount(UINT* count)
{
    if (count == nullptr)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ProcessCallback::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo)
{
    if (index != 0)
        return DISP_E_BADINDEX;
    if (typeInfo == nullptr)
        return E_POINTER;
    *typeInfo = nullptr;
    CComPtrEx<ITypeInfo> info;
    const HRESULT hr = CallbackTypeInfo::Instance().Get(info);
    if (FAILED(hr))
        return hr;
    *typeInfo = info.Detach();
    return S_OK;
}

HRESULT ProcessCallback::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    CComPtrEx<ITypeInfo> info;
    const HRESULT hr = CallbackTypeInfo::Instance().Get(info);
    if (FAILED(hr))
        return hr;
    if (count == 1 && names != nullptr && names[0] != nullptr && ids != nullptr &&
        CallbackTypeInfo::Instance().FindName(names[0], ids[0]))
        return S_OK;
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT ProcessCallback::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* exception, UINT* argError)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    CComPtrEx<ITypeInfo> info;
    const HRESULT hr = CallbackTypeInfo::Instance().Get(info);
    if (FAILED(hr))
        return hr;
    return info->Invoke(static_cast<IProcessCallback*>(this), id, flags, params, result, exception, argError);
}

HRESULT ProcessCallback::AuthenticationStarted()
{
    return S_OK;
}

HRESULT ProcessCallback::AuthenticationProgress(LONG)
{
    return S_OK;
}

HRESULT ProcessCallback::AuthenticationCompleted(LONG result)
{
    // The prompt is closed whatever its close answers: the result must reach the window
    // either way, and the window ends the session through the product again.
    CComPtrEx<IUnknown> product;
    {
        CKelvoSrwLockHold hold(m_authLock);
        // A retired callback's prompt has ended: its report belongs to nobody.
        if (m_retired)
            return S_OK;
        product = m_spAuth;
    }
    if (product)
        CallComMethod(product.Get(), kAuthClosePrompt);
    // Checked again with the post under the lock: a retirement meanwhile keeps it back.
    CKelvoSrwLockHold hold(m_authLock);
    if (!m_retired)
    {
        // The result travels sign-extended, so -1 arrives as wParam -1; the run's number
        // lets the window tell this prompt's report from any other's.
        PostMessageW(m_agentWindow, WM_AGENT_AUTH_RESULT, static_cast<WPARAM>(static_cast<INT_PTR>(result)),
                     static_cast<LPARAM>(m_run));
    }
    return S_OK;
}
