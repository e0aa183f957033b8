#include "configsvc/CAgentConfig.h"
#include "configsvc/CKelvoCaller.h"
#include "configsvc/CKelvoHeldFolder.h"
#include "configsvc/CKelvoSaveArguments.h"
#include "configsvc/CKelvoSavePath.h"
#include "common/CADQuery.h"
#include "common/CConfigurationEx.h"
#include "common/CErrorEx.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"
#include <vector>

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
        if (FAILED(hr = caller.Admit(L"SaveChanges", user, domain)))
            return hr;

        // Only a configuration file of the product, in its own folders; the folder stays
        // held, and everything below is written through it.
        CKelvoHeldFolder folder;
        if (FAILED(hr = CKelvoSavePath::Check(path, folder)))
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

        // Parsed without document type or external resources, rendered as the file's
        // bytes, and stored in one step: the old file stays whole until the new one, with
        // its own access, replaces it.
        CConfigurationEx configuration;
        if (FAILED(hr = configuration.LoadFromText(path, TextOf(bstrXML))))
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_XML_REFUSED, path);
            return E_FAIL;
        }
        std::vector<BYTE> bytes;
        if (FAILED(hr = configuration.GetFileBytes(bytes))
            || FAILED(hr = folder.Write(CStringEx(path).Mid(folder.Folder().GetLength() + 1), bytes, caller.Sid())))
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_SAVE_FAILED, path, hr);
            return hr;
        }
        CUtilLogging::Instance().LogRes(4, IDS_SVC_SAVED, path, domain, user);
        CUtilLogging::Instance().LogRes(4, IDS_SVC_GRANTED, path, caller.AccountText().GetString(),
                                        caller.SidText().GetString());
        return S_OK;
    }
    catch (...)
    {
        hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_SVC_SAVE_FAILED, path, hr);
        return hr;
    }
}
