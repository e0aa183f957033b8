#pragma once
#include "cartlink/CEndpointSession.h"

// A Citrix ICA session, recognised through the Citrix session library. Each live object is
// one user of that library (CCtxLibrary), so it stays loaded while the object lives.
class CCtxSession : public CEndpointSession
{
public:
    CCtxSession() noexcept;
    ~CCtxSession() override;
    CCtxSession(const CCtxSession&) = delete;
    CCtxSession& operator=(const CCtxSession&) = delete;

    const CObjectExClassInfo* GetClassInfo() const override { return &s_classInfo; }

    // The endpoint's client name as the Citrix library reports it.
    BOOL GetClientName(CStringEx& name) override;
    BOOL IsRemote() override { return TRUE; }
    // A CVirtualChannelImplT<CCtxVirtualChannel> on the named channel, posting to window.
    _CObjectExPtr<CObjectEx> OpenVirtualChannel(HWND window, LPCWSTR channelName) override;
    // The Citrix library answers the client-name query for this session.
    BOOL IsCurrent() override;

    static const CObjectExClassInfo s_classInfo;

private:
    static CObjectEx* Create();
};
