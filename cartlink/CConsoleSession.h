#pragma once
#include "cartlink/CEndpointSession.h"

// The local console: the endpoint is this computer, and there is no virtual channel.
class CConsoleSession : public CEndpointSession
{
public:
    const CObjectExClassInfo* GetClassInfo() const override { return &s_classInfo; }

    // The computer's name, only while the process runs in the active console session.
    BOOL GetClientName(CStringEx& name) override;
    BOOL IsRemote() override { return FALSE; }
    _CObjectExPtr<CObjectEx> OpenVirtualChannel(HWND, LPCWSTR) override { return nullptr; }
    // The process's session is the active console session.
    BOOL IsCurrent() override;

    static const CObjectExClassInfo s_classInfo;

private:
    static CObjectEx* Create();
};
