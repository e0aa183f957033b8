#include "configsvc/CKelvoCaller.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"
#include <lm.h>
#include <objbase.h>
#include <rpc.h>
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

// Ends the impersonation of the client of the RPC call being served, whichever way.
class CRpcClientImpersonation
{
public:
    CRpcClientImpersonation() : m_status(RpcImpersonateClient(nullptr)) {}
    ~CRpcClientImpersonation()
    {
        if (m_status == RPC_S_OK)
            RpcRevertToSelf();
    }
    CRpcClientImpersonation(const CRpcClientImpersonation&) = delete;
    CRpcClientImpersonation& operator=(const CRpcClientImpersonation&) = delete;
    RPC_STATUS Status() const noexcept { return m_status; }

private:
    RPC_STATUS m_status;
};

// The token the thread impersonates; ERROR_NO_TOKEN when it acts for nobody.
HRESULT TakeThreadToken(CKernelHandleEx& token)
{
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.Put()))
        return S_OK;
    return HRESULT_FROM_WIN32(GetLastError());
}

CStringEx ComputerName(COMPUTER_NAME_FORMAT format)
{
    wchar_t name[256 + 1] = {};
    DWORD length = ARRAYSIZE(name);
    return GetComputerNameExW(format, name, &length) ? CStringEx(name) : CStringEx();
}

// The NetBIOS name of the domain this computer is joined to; empty in a workgroup.
CStringEx JoinedDomain()
{
    LPWSTR name = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (NetGetJoinInformation(nullptr, &name, &status) != NERR_Success)
        return CStringEx();
    const CStringEx joined = status == NetSetupDomainName && name ? CStringEx(name) : CStringEx();
    NetApiBufferFree(name);
    return joined;
}
}

HRESULT CKelvoCaller::Admit(LPCWSTR callName, LPCWSTR claimedUser, LPCWSTR claimedDomain)
{
    HRESULT impersonated = S_OK;
    RPC_STATUS rpcStatus = RPC_S_OK;
    CKernelHandleEx token;
    HRESULT hr = S_OK;
    {
        // Only the token is taken while impersonating: an identify-level client token cannot
        // reach the account database, so the look-ups run as the service, on that token.
        CClientImpersonation impersonation;
        impersonated = impersonation.Result();
        if (SUCCEEDED(impersonated))
            hr = TakeThreadToken(token);
        else if (impersonated != RPC_E_CALL_COMPLETE)
            hr = impersonated;
        else
        {
            // COM knows of no call being served: the RPC call that carries it may still
            // name its client; without one, only a thread that acts for someone has a caller.
            CRpcClientImpersonation rpcClient;
            rpcStatus = rpcClient.Status();
            hr = TakeThreadToken(token);
        }
        if (FAILED(impersonated) && hr == HRESULT_FROM_WIN32(ERROR_NO_TOKEN))
        {
            // No caller at all. This process's own account stands in only when it is no
            // service account: the service as installed (LocalSystem) never acts for a
            // call it cannot trace to a client.
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.Put()))
                hr = HRESULT_FROM_WIN32(GetLastError());
            else if (!ProcessMayStandIn(token.Get()))
            {
                CUtilLogging::Instance().LogRes(2, IDS_SVC_NO_CALLER, callName, static_cast<unsigned>(impersonated),
                                                static_cast<unsigned>(rpcStatus));
                return E_ACCESSDENIED;
            }
            else
            {
                hr = S_OK;
                CUtilLogging::Instance().LogRes(5, IDS_SVC_PROCESS_STANDS_IN, callName, static_cast<unsigned>(impersonated),
                                                static_cast<unsigned>(rpcStatus));
            }
        }
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
        if (m_facts.writeRestricted)
            CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_WRITE_RESTRICTED, callName, m_domain.GetString(),
                                            m_name.GetString());
        return E_ACCESSDENIED;
    }
    if (claimedUser && m_name.CompareNoCase(claimedUser) != 0)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_OTHER_NAME, callName, m_domain.GetString(), m_name.GetString(),
                                        claimedUser);
        return E_ACCESSDENIED;
    }
    if (claimedUser && !IsClaimedDomain(claimedDomain))
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_OTHER_DOMAIN, callName, m_domain.GetString(),
                                        m_name.GetString(), claimedDomain ? claimedDomain : L"");
        return E_ACCESSDENIED;
    }
    return S_OK;
}

bool CKelvoCaller::MayStandInForACaller(PSID account)
{
    for (WELL_KNOWN_SID_TYPE type : { WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid })
    {
        BYTE known[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(known);
        if (!account || !IsValidSid(account) || !CreateWellKnownSid(type, nullptr, known, &size) || EqualSid(account, known))
            return false;
    }
    return true;
}

bool CKelvoCaller::ProcessMayStandIn(HANDLE processToken)
{
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    return GetTokenInformation(processToken, TokenUser, buffer, sizeof(buffer), &length)
           && MayStandInForACaller(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

bool CKelvoCaller::IsClaimedDomain(LPCWSTR claimedDomain) const
{
    return IsSameDomain(CStringEx(claimedDomain ? claimedDomain : L""), m_domain,
                        ComputerName(ComputerNameNetBIOS), JoinedDomain(), ComputerName(ComputerNameDnsDomain));
}

bool CKelvoCaller::IsSameDomain(const CStringEx& claimedDomain, const CStringEx& accountDomain,
                                const CStringEx& computerName, const CStringEx& joinedDomain, const CStringEx& dnsDomain)
{
    if (claimedDomain.IsEmpty() || accountDomain.IsEmpty())
        return false;
    if (claimedDomain.CompareNoCase(accountDomain) == 0)
        return true;
    // A domain account named by the DNS name of the domain this computer is joined to: the
    // account database names that domain by its NetBIOS name.
    return accountDomain.CompareNoCase(computerName) != 0 && !joinedDomain.IsEmpty()
           && accountDomain.CompareNoCase(joinedDomain) == 0 && !dnsDomain.IsEmpty()
           && claimedDomain.CompareNoCase(dnsDomain) == 0;
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
