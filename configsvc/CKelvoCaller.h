#pragma once
#include "common/CStringEx.h"
#include "configsvc/CKelvoTokenFacts.h"
#include <windows.h>
#include <vector>

// The caller of the call being served, by its own token: the COM client (impersonated only
// long enough to take its token), the client of the RPC call that carries the COM call
// when COM gives no call context, or, for a call from inside this process, the token the
// calling thread impersonates. A call without any of these has no caller: the process's
// own token stands in for one only when the process runs as no service account, so never
// in the service as installed (LocalSystem). The service acts for a caller only after Admit.
class CKelvoCaller
{
public:
    // Identifies the caller and admits it when it is an administrator of this computer by
    // its token and, when claimedUser is given, is the account the request names: the same
    // name (whole text) in the same domain, claimedDomain being either the account's own
    // domain or, for an account of the domain this computer is joined to, that domain's
    // DNS name. Every refusal is logged with its reason under the name of the call
    // (callName). S_OK or E_ACCESSDENIED.
    HRESULT Admit(LPCWSTR callName, LPCWSTR claimedUser, LPCWSTR claimedDomain = nullptr);

    // Whether claimedDomain names the domain of an account whose own domain (as the
    // account database gives it) is accountDomain, on a computer named computerName that
    // is joined to the domain joinedDomain (NetBIOS name; empty when not joined) whose
    // DNS name is dnsDomain. Compared without regard to case; an empty text matches none.
    static bool IsSameDomain(const CStringEx& claimedDomain, const CStringEx& accountDomain,
                             const CStringEx& computerName, const CStringEx& joinedDomain, const CStringEx& dnsDomain);

    // The caller's account SID (valid after Admit succeeded), as a SID and as text.
    PSID Sid() noexcept { return m_sid.empty() ? nullptr : m_sid.data(); }
    const CStringEx& SidText() const noexcept { return m_sidText; }
    // The caller's account as "domain\name".
    CStringEx AccountText() const;

    // Whether a process running as account may take its own token for the caller of a
    // call that names none: never as LocalSystem, LocalService or NetworkService.
    static bool MayStandInForACaller(PSID account);

private:
    static bool ProcessMayStandIn(HANDLE processToken);
    HRESULT Identify(HANDLE token);
    bool IsClaimedDomain(LPCWSTR claimedDomain) const;

    std::vector<BYTE> m_sid;
    CStringEx m_sidText;
    CStringEx m_domain;
    CStringEx m_name;
    CKelvoTokenFacts m_facts;
};
