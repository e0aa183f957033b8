#include "common/CWMIQuerySearchContext.h"
#include <new>

const CObjectExClassInfo CWMIQuerySearchContext::s_classInfo = { "CWMIQuerySearchContext",
                                                                 sizeof(CWMIQuerySearchContext), nullptr, nullptr };

namespace
{
// The system property that lists the classes a WMI class derives from.
const wchar_t kDerivation[] = L"__DERIVATION";

bool IsBlank(LPCWSTR text)
{
    return text == nullptr || *text == L'\0';
}
}

const CObjectExClassInfo* CWMIQuerySearchContext::GetClassInfo() const
{
    return &s_classInfo;
}

CWMIQuerySearchContext::CWMIQuerySearchContext(CComPtrEx<IEnumWbemClassObject> rows, LPCWSTR classAttribute,
                                               LPCWSTR groupClass)
    : m_rows(std::move(rows)), m_classAttribute(classAttribute), m_groupClass(groupClass)
{
}

HRESULT CWMIQuerySearchContext::Execute(LPCWSTR wmiNamespace, LPCWSTR language, LPCWSTR query, LPCWSTR classAttribute,
                                        LPCWSTR groupClass, _CObjectExPtr<CWMIQuerySearchContext>& context)
{
    context = nullptr;
    if (IsBlank(wmiNamespace) || IsBlank(language) || IsBlank(query))
        return E_INVALIDARG;
    try
    {
        CComPtrEx<IWbemLocator> locator;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      locator.PutVoid());
        if (FAILED(hr))
            return hr;
        CComPtrEx<IWbemServices> services;
        CBstrEx ns(wmiNamespace);
        hr = locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Put());
        if (FAILED(hr))
            return hr;
        // The account providers act for the caller, which needs impersonation on the
        // proxy; a library must not set the process-wide COM security for that. Without a
        // proxy (an in-process service) there is nothing to set.
        CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        CBstrEx lang(language), text(query);
        CComPtrEx<IEnumWbemClassObject> rows;
        hr = services->ExecQuery(lang.Get(), text.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, rows.Put());
        if (FAILED(hr))
            return hr;
        if (!rows)
            return E_POINTER;
        context = MakeObjectEx<CWMIQuerySearchContext>(std::move(rows), classAttribute, groupClass);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

CStringEx CWMIQuerySearchContext::EscapeLiteral(const CStringEx& value)
{
    CStringEx escaped;
    for (const wchar_t c : value.Str())
    {
        if (c == L'\\' || c == L'"')
            escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

CStringEx CWMIQuerySearchContext::EscapeLikePattern(const CStringEx& value)
{
    CStringEx pattern;
    for (const wchar_t c : value.Str())
    {
        switch (c)
        {
        case L'%': pattern += L"[%]"; break;
        case L'_': pattern += L"[_]"; break;
        case L'[': pattern += L"[[]"; break;
        default: pattern += c; break;
        }
    }
    return EscapeLiteral(pattern);
}

HRESULT CWMIQuerySearchContext::NextRow()
{
    if (!m_rows)
        return E_POINTER;
    m_current.Reset();
    ULONG returned = 0;
    const HRESULT hr = m_rows->Next(kRowTimeoutMs, 1, m_current.Put(), &returned);
    if (hr == WBEM_S_TIMEDOUT)
    {
        m_current.Reset();
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    if (FAILED(hr))
    {
        m_current.Reset();
        return hr;
    }
    if (returned == 0 || !m_current)
    {
        m_current.Reset();
        return S_FALSE;
    }
    return S_OK;
}

HRESULT CWMIQuerySearchContext::ReadProperty(LPCWSTR attribute, VARIANT& value)
{
    if (IsBlank(attribute))
        return E_INVALIDARG;
    if (!m_current)
        return E_POINTER;
    return m_current->Get(attribute, 0, &value, nullptr, nullptr);
}

HRESULT CWMIQuerySearchContext::GetStrings(LPCWSTR attribute, CMultiSzStringEx& values)
{
    CVariantEx value;
    HRESULT hr = ReadProperty(attribute, *value.Put());
    if (FAILED(hr))
        return hr;
    if (V_VT(&value) == VT_NULL || V_VT(&value) == VT_EMPTY)
        return WBEM_E_NOT_FOUND;
    if (V_VT(&value) == VT_BSTR)
    {
        if (SysStringLen(V_BSTR(&value)) > 0 && !values.Add(V_BSTR(&value)))
            return E_OUTOFMEMORY;
        return S_OK;
    }
    if (V_VT(&value) != (VT_ARRAY | VT_BSTR) || V_ARRAY(&value) == nullptr)
        return E_FAIL;
    SAFEARRAY* array = V_ARRAY(&value);
    LONG lower = 0, upper = -1;
    if (FAILED(hr = SafeArrayGetLBound(array, 1, &lower)) || FAILED(hr = SafeArrayGetUBound(array, 1, &upper)))
        return hr;
    for (LONG i = lower; i <= upper; ++i)
    {
        CBstrEx item;
        if (FAILED(hr = SafeArrayGetElement(array, &i, item.Put())))
            return hr;
        if (item.Length() > 0 && !values.Add(item.Text()))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CWMIQuerySearchContext::GetString(LPCWSTR attribute, CStringEx& value)
{
    CVariantEx read;
    const HRESULT hr = ReadProperty(attribute, *read.Put());
    if (FAILED(hr))
        return hr;
    if (V_VT(&read) == VT_NULL || V_VT(&read) == VT_EMPTY)
        return WBEM_E_NOT_FOUND;
    if (V_VT(&read) != VT_BSTR)
        return E_FAIL;
    value = CStringEx(V_BSTR(&read), static_cast<int>(SysStringLen(V_BSTR(&read))));
    return S_OK;
}

int CWMIQuerySearchContext::GetKind()
{
    CMultiSzStringEx classes;
    if (FAILED(GetStrings(m_classAttribute, classes)))
        return KindUnknown;
    // The classes the row's class derives from count as its classes too.
    GetStrings(kDerivation, classes);
    for (const wchar_t* p = classes.GetData(); p && *p; p += wcslen(p) + 1)
        if (!m_groupClass.IsEmpty() && m_groupClass.CompareNoCase(p) == 0)
            return KindGroup;
    return KindOther;
}
