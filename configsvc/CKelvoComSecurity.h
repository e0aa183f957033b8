#pragma once
#include <windows.h>
#include <vector>

// Who may start the service through COM and call its objects: SYSTEM, the Administrators
// group and interactively signed-in users, from this computer only. One place for both the
// AppID's LaunchPermission and AccessPermission values and the process's own
// CoInitializeSecurity, so the two never disagree. The objects check their callers
// themselves on top of this (CKelvoCaller).
class CKelvoComSecurity
{
public:
    // The descriptors in SDDL: local execute and local activation for launching, local
    // execute for calls; owner and group Administrators (COM requires both).
    static const wchar_t* const kLaunchSddl;
    static const wchar_t* const kAccessSddl;
    // The capabilities of the process: no activation of others' objects as this process's
    // identity (activate-as-activator), and no custom marshalling from callers.
    static const DWORD kCapabilities;

    // A descriptor as a self-relative binary, as the AppID's REG_BINARY values hold it;
    // empty on failure, with the error in *error.
    static std::vector<BYTE> SelfRelative(const wchar_t* sddl, DWORD* error);

    // Calls CoInitializeSecurity with the access descriptor (absolute, as COM takes it),
    // authenticated and encrypted calls, identify-level impersonation and the capabilities.
    static HRESULT InitializeProcess();
};
