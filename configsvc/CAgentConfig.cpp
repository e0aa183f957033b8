#include "configsvc/CAgentConfig.h"
#include "configsvc/CKelvoCaller.h"
#include "configsvc/CKelvoSaveArguments.h"
#include "configsvc/CKelvoSavePath.h"
#include "common/CADQuery.h"
#include "common/CConfigurationEx.h"
#include "common/CErrorEx.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"
#include <aclapi.h>

namespace
{
LPCWSTR TextOf(BSTR text)
{
    return text ? text : L"";
}
}

const CInterfaceEntryEx* CAgentConfig::GetInterfaces()
{
    static const CInterfaceEntryEx entries[] = {
        { &IID_IAgentConfig, &InterfaceCastEx<CAgentConfig, IAgentConfig> },
        { &IID_IDispatch, &InterfaceCastEx<CAgentConfig, IAgentConfig> },
        { nullptr, nullptr },
    };
    return entries;
}

HRESULT CAgentConfig::SaveChanges(BSTR bstrUserName, BSTR bstrDomainName, BSTR bstrConfigFileName, BSTR bstrXML)
{
    // Every text is used whole from here on: a NUL inside one, or an oversized one, is refused.
    HRESULT hr = CKelvoSaveArguments::Check(bstrUserName, bstrDomainName, bstrConfigFileName, bstrXML);
    if (FAILED(hr))
        return hr;
    const LPCWSTR user = TextOf(bstrUserName);
    const LPCWSTR domain = TextOf(bstrDomainName);
    const LPCWSTR path = TextOf(bstrConfigFileName);
    try
    {
        // The caller, by its own token: an administrator, and the account it names.
        CKelvoCaller caller;
        if (FAILED(hr = caller.Admit(L"SaveChanges", user)))
            return hr;

        // Only a configuration file of the product, in its own folders.
        if (FAILED(hr = CKelvoSavePath::Check(path)))
            return hr;

        // The named account, by the directory: an administrator of this computer.
        {
            _CObjectExPtr<CADQuery> query = MakeObjectEx<CADQuery>();
            CStringEx searchRoot;
            if (!query->GetSearchRoot(searchRoot))
                searchRoot.Empty();
            if (!query->IsLocalGroupMember(searchRoot, user, domain))
            {
                CUtilLogging::Instance().LogRes(2, IDS_SVC_NAMES_NOT_ADMIN, domain, user);
                return E_ACCESSDENIED;
            }
        }

        // Parsed without document type or external resources, and stored in one step: the
        // old file stays whole until the new one replaces it.
        CConfigurationEx configuration;
        if (FAILED(hr = configuration.LoadFromText(path, TextOf(bstrXML))))
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_XML_REFUSED, path);
            return E_FAIL;
        }
        if (FAILED(hr = configuration.Save()))
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_SAVE_FAILED, path, hr);
            return hr;
        }
        CUtilLogging::Instance().LogRes(4, IDS_SVC_SAVED, path, domain, user);

        GrantFullControl(path, caller);
        return S_OK;
    }
    catch (...)
    {
        hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_SVC_SAVE_FAILED, path, hr);
        return hr;
    }
}

// Lets the caller's account change the file itself next time. The account is the caller's
// SID, as its token gave it: no name is looked up again. A failure is logged and swallowed:
// the file is written, which is what the caller asked for.
void CAgentConfig::GrantFullControl(LPCWSTR path, CKelvoCaller& caller)
{
    CStringEx objectName;
    objectName.Format(L"\\\\?\\%s", path);

    PACL oldDacl = nullptr;
    PSECURITY_DESCRIPTOR descriptorMemory = nullptr;
    DWORD error = GetNamedSecurityInfoW(objectName, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                        nullptr, &descriptorMemory);
    CLocalMemEx descriptor(descriptorMemory);
    CLocalMemEx newDaclMemory;
    if (error == ERROR_SUCCESS)
    {
        EXPLICIT_ACCESSW access = {};
        access.grfAccessPermissions = GENERIC_ALL;
        access.grfAccessMode = GRANT_ACCESS;
        access.grfInheritance = NO_INHERITANCE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_USER;
        access.Trustee.ptstrName = static_cast<LPWSTR>(caller.Sid());
        PACL newDacl = nullptr;
        error = SetEntriesInAclW(1, &access, oldDacl, &newDacl);
        newDaclMemory.Reset(newDacl);
        if (error == ERROR_SUCCESS)
            error = SetNamedSecurityInfoW(const_cast<LPWSTR>(objectName.GetString()), SE_FILE_OBJECT,
                                          DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl, nullptr);
    }
    if (error == ERROR_SUCCESS)
        CUtilLogging::Instance().LogRes(4, IDS_SVC_GRANTED, path, caller.AccountText().GetString(),
                                        caller.SidText().GetString());
    else
        CUtilLogging::Instance().LogRes(2, IDS_SVC_GRANT_FAILED, path, caller.AccountText().GetString(),
                                        caller.SidText().GetString(), error);
}
