#pragma once
#include "common/com/TComObjectEx.h"
#include "common/com/TDispatchEx.h"
#include "KelvoConfigSvcLib.h"

class CKelvoCaller;

// The AgentConfig class: writes a configuration file for an administrator whose own
// account may not write it. Every call is self-contained; the object holds no data.
class CAgentConfig : public TDispatchEx<IAgentConfig, &IID_IAgentConfig, &LIBID_KelvoConfigSvcLib>,
                     public CComObjectRootEx
{
public:
    static const CInterfaceEntryEx* GetInterfaces();
    // The registry script of the class (REGISTRY resource of the service).
    static constexpr UINT kRegistryScript = 102;

    // Checks the texts, the caller, the path, the names and the document, then stores the
    // document at the path in one step through the held folder, the file owned by
    // Administrators with the caller's account in full control. S_OK, E_INVALIDARG (a text with a NUL
    // inside, a text over its limit, or a path outside the product's folders),
    // E_ACCESSDENIED (caller or names refused), E_FAIL (document refused), or the save's
    // failure; a refusal touches nothing.
    HRESULT STDMETHODCALLTYPE SaveChanges(BSTR bstrUserName, BSTR bstrDomainName, BSTR bstrConfigFileName,
                                          BSTR bstrXML) override;


};
