#pragma once
#include "common/CStringEx.h"
#include "configsvc/CKelvoTokenFacts.h"
#include <windows.h>
#include <vector>

// The caller of the call being served, by its own token: the COM client (impersonated only
// long enough to take its token), or, for a call from inside this process, the calling
// thread's own identity. The service acts for a caller only after Admit.
class CKelvoCaller
{
public:
    // Identifies the caller and admits it when it is an administrator of this computer by
    // its token and, when claimedUser is given, is the account the request names (compared
    // on the whole text). Every refusal is logged with its reason under the name of the
    // call (callName). S_OK or E_ACCESSDENIED.
    HRESULT Admit(LPCWSTR callName, LPCWSTR claimedUser);

    // The caller's account SID (valid after Admit succeeded), as a SID and as text.
    PSID Sid() noexcept { return m_sid.empty() ? nullptr : m_sid.data(); }
    const CStringEx& SidText() const noexcept { return m_sidText; }
    // The caller's account as "domain\name".
    CStringEx AccountText() const;

private:
    HRESULT Identify(HANDLE token);

    std::vector<BYTE> m_sid;
    CStringEx m_sidText;
    CStringEx m_domain;
    CStringEx m_name;
    CKelvoTokenFacts m_facts;
};
