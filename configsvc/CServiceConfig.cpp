#include "configsvc/CServiceConfig.h"
#include "configsvc/CKelvoCaller.h"

const CInterfaceEntryEx* CServiceConfig::GetInterfaces()
{
    static const CInterfaceEntryEx entries[] = {
        { &IID_IServiceConfig, &InterfaceCastEx<CServiceConfig, IServiceConfig> },
        { &IID_IDispatch, &InterfaceCastEx<CServiceConfig, IServiceConfig> },
        { nullptr, nullptr },
    };
    return entries;
}

HRESULT CServiceConfig::Changed()
{
    // Only an administrator makes the service read its settings again.
    CKelvoCaller caller;
    const HRESULT hr = caller.Admit(L"Changed", nullptr);
    if (FAILED(hr))
        return hr;
    // The re-read happens on the loop after this call returns; a failed post (no loop)
    // leaves the settings as they are, which is all the caller could learn.
    if (CComModuleEx* module = CComModuleEx::Instance())
        PostThreadMessageW(module->GetMessageThreadId(), WM_CONFIG_CHANGED, 0, 0);
    return S_OK;
}
