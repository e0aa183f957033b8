#include "configsvc/CKelvoCaller.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"
#include <objbase.h>
#include <sddl.h>

namespace
{
// Ends the impersonation of a COM client when the token is taken, whichever way.
class CClientImpersonation
{
public:
    CClientImpersonation() : m_result(CoImpersonateClient()) {}
    ~CClientImpersonation()
    {
        if (SUCCEEDED(m_result))
            CoRevertToSelf();
    }
    CClientImpersonation(const CClientImpersonation&) = delete;
    CClientImpersonation& operator=(const CClientImpersonation&) = delete;
    HRESULT Result() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

// The token of whoever the thread acts for: the impersonated client, or this process.
HRESULT OpenCallerToken(CKernelHandleEx& token)
{
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.Put()))
        return S_OK;
    if (GetLastError() != ERROR_NO_TOKEN)
        return HRESULT_FROM_WIN32(GetLastError());
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.Put()))
        return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}
}

HRESULT CKelvoCaller::Admit(LPCWSTR callName, LPCWSTR claimedUser)
{
    HRESULT impersonated = S_OK;
    CKernelHandleEx token;
    HRESULT hr = S_OK;
    {
        // Only the token is taken while impersonating: an identify-level client token cannot
        // reach the account database, so the look-ups run as the service, on that token.
        CClientImpersonation impersonation;
        impersonated = impersonation.Result();
        // RPC_E_CALL_COMPLETE: no COM call is being served, the caller is this process.
        if (FAILED(impersonated) && impersonated != RPC_E_CALL_COMPLETE)
            hr = impersonated;
        else
            hr = OpenCallerToken(token);
    }
    if (SUCCEEDED(hr))
        hr = Identify(token.Get());
    if (FAILED(hr))
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_UNKNOWN, callName, static_cast<unsigned>(hr));
        return E_ACCESSDENIED;
    }
    const bool administrator = m_facts.IsAdministrator();
    CUtilLogging::Instance().LogRes(5, IDS_SVC_CALLER_IDENTIFIED, callName, m_domain.GetString(), m_name.GetString(),
                                    m_sidText.GetString(), static_cast<unsigned>(impersonated), administrator ? 1 : 0);
    if (!administrator)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_NOT_ADMIN, callName, m_domain.GetString(), m_name.GetString(),
                                        m_facts.member ? 1 : 0, m_facts.limited ? 1 : 0, m_facts.linkedPresent ? 1 : 0,
                                        m_facts.linkedMember ? 1 : 0, m_facts.restricted ? 1 : 0,
                                        static_cast<unsigned>(m_facts.integrity));
        return E_ACCESSDENIED;
    }
    if (claimedUser && m_name.CompareNoCase(claimedUser) != 0)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_OTHER_NAME, callName, m_domain.GetString(), m_name.GetString(),
                                        claimedUser);
        return E_ACCESSDENIED;
    }
    return S_OK;
}

HRESULT CKelvoCaller::Identify(HANDLE token)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
        return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = CKelvoTokenFacts::Read(token, administrators, m_facts);
    if (FAILED(hr))
        return hr;

    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length))
        return HRESULT_FROM_WIN32(GetLastError());
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    m_sid.assign(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + GetLengthSid(sid));
    LPWSTR sidText = nullptr;
    if (!ConvertSidToStringSidW(sid, &sidText))
        return HRESULT_FROM_WIN32(GetLastError());
    CLocalMemEx sidTextMemory(sidText);
    m_sidText = sidText;

    wchar_t name[256 + 1], domain[256 + 1];
    DWORD nameLength = ARRAYSIZE(name), domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return HRESULT_FROM_WIN32(GetLastError());
    m_domain = domain;
    m_name = name;
    return S_OK;
}

CStringEx CKelvoCaller::AccountText() const
{
    CStringEx text;
    text.Format(L"%s\\%s", m_domain.GetString(), m_name.GetString());
    return text;
}
