#pragma once
#include "common/com/TComObjectEx.h"
#include "common/com/TDispatchEx.h"
#include "KelvoConfigSvcLib.h"

// The ServiceConfig class: tells the thread that serves the objects that the service's
// own configuration file changed, so it re-reads its logging settings.
class CServiceConfig : public TDispatchEx<IServiceConfig, &IID_IServiceConfig, &LIBID_KelvoConfigSvcLib>,
                       public CComObjectRootEx
{
public:
    // Posted to the serving thread (both parameters 0); its loop sets logging up again.
    static constexpr UINT WM_CONFIG_CHANGED = WM_USER + 13;
    static constexpr UINT kRegistryScript = 103;

    static const CInterfaceEntryEx* GetInterfaces();

    // For an administrator (as SaveChanges admits callers): posts WM_CONFIG_CHANGED and
    // returns S_OK at once, whether or not the post succeeded. E_ACCESSDENIED otherwise.
    HRESULT STDMETHODCALLTYPE Changed() override;
};
