#pragma once
#include "cartlink/CEndpointSession.h"

// A Remote Desktop session, or any other session that is not the console: the endpoint is
// the Remote Desktop client, and there is no virtual channel.
class CRdpSession : public CEndpointSession
{
public:
    const CObjectExClassInfo* GetClassInfo() const override { return &s_classInfo; }

    // The client name Terminal Services reports, only while the process is not in the
    // active console session.
    BOOL GetClientName(CStringEx& name) override;
    BOOL IsRemote() override { return TRUE; }
    _CObjectExPtr<CObjectEx> OpenVirtualChannel(HWND, LPCWSTR) override { return nullptr; }
    // The process's session is not the active console session.
    BOOL IsCurrent() override;

    static const CObjectExClassInfo s_classInfo;

private:
    static CObjectEx* Create();
};
