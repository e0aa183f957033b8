#include "configsvc/CKelvoSaveArguments.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"

bool CKelvoSaveArguments::HasInnerNul(BSTR text, UINT& position) noexcept
{
    const UINT length = SysStringLen(text);
    for (UINT i = 0; i < length; ++i)
    {
        if (text[i] == L'\0')
        {
            position = i;
            return true;
        }
    }
    return false;
}

HRESULT CKelvoSaveArguments::Check(BSTR userName, BSTR domainName, BSTR fileName, BSTR xml)
{
    // Parameter names, as the interface declares them, tell the administrator which one.
    const struct
    {
        LPCWSTR name;
        BSTR text;
        UINT limit;
    } arguments[] = {
        { L"bstrUserName", userName, kMaxNameLength },
        { L"bstrDomainName", domainName, kMaxNameLength },
        { L"bstrConfigFileName", fileName, MAX_PATH },
        { L"bstrXML", xml, kMaxDocumentLength },
    };
    CUtilLogging& log = CUtilLogging::Instance();
    for (const auto& argument : arguments)
    {
        const UINT length = SysStringLen(argument.text);
        UINT position = 0;
        if (HasInnerNul(argument.text, position))
        {
            log.LogRes(2, IDS_SVC_ARGUMENT_HAS_NUL, argument.name, position, length);
            return E_INVALIDARG;
        }
        if (length > argument.limit)
        {
            log.LogRes(2, IDS_SVC_ARGUMENT_TOO_LONG, argument.name, length, argument.limit);
            return E_INVALIDARG;
        }
    }
    return S_OK;
}
