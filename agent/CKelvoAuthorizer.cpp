#include "agent/CKelvoAuthorizer.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsAgentAuth.h"
#include "resources/KVIdsDirectory.h"

CKelvoAuthorizer::Decision CKelvoAuthorizer::Authorize(const Settings& settings, LPCWSTR user, LPCWSTR domain,
                                                       LPCWSTR endpointName)
{
    CUtilLogging& log = CUtilLogging::Instance();
    user = user ? user : L"";
    domain = domain ? domain : L"";

    // Granted by configuration: every identified user, no directory asked.
    if (settings.preAuthorized)
    {
        log.LogRes(4, IDS_AUTH_REQUEST_ACCESS, user, domain);
        return {Verdict::PreAuthorized, 0};
    }

    // Without a domain nobody can tell where the account lives.
    if (*domain == L'\0')
    {
        log.LogRes(2, IDS_AUTH_NO_DOMAIN_LOG, user);
        return {Verdict::NoDomain, IDS_AUTH_NO_DOMAIN};
    }

    CStringEx root;
    if (!FindSearchRoot(domain, endpointName, root))
        return {Verdict::NoSearchRoot, IDS_DIR_NO_SEARCH_ROOT};

    // The configured groups first, then the local administrators; without groups the
    // local check alone decides.
    const bool hasGroups = !settings.groupList.IsEmpty();
    bool authorized = false;
    if (hasGroups)
        authorized = m_query.IsGroupMember(root, user, domain, settings.groupList) ||
                     m_query.IsLocalGroupMember(root, user, domain);
    else
    {
        authorized = m_query.IsLocalGroupMember(root, user, domain) != FALSE;
        if (!authorized)
            log.LogRes(2, IDS_AUTH_NOT_AUTHORIZED);
    }

    if (!authorized)
    {
        log.LogRes(2, IDS_AUTH_USER_REFUSED, user, domain);
        return {Verdict::Refused, hasGroups ? static_cast<UINT>(IDS_AUTH_NOT_IN_GROUP) : IDS_AUTH_NOT_AUTHORIZED};
    }
    log.LogRes(4, IDS_AUTH_USER_AUTHORIZED, user, domain);
    return {Verdict::Authorized, 0};
}

CKelvoAuthorizer::RebindVerdict CKelvoAuthorizer::MayRebind(LPCWSTR user, LPCWSTR domain, LPCWSTR endpointName,
                                                            UINT& messageId)
{
    CStringEx root;
    if (!FindSearchRoot(domain, endpointName, root))
    {
        messageId = IDS_DIR_NO_SEARCH_ROOT;
        return RebindVerdict::NoSearchRoot;
    }
    if (!m_query.IsLocalGroupMember(root, user, domain))
    {
        messageId = IDS_AUTH_REBIND_NOT_ADMIN;
        return RebindVerdict::NotAdministrator;
    }
    messageId = 0;
    return RebindVerdict::Allowed;
}

BOOL CKelvoAuthorizer::FindSearchRoot(LPCWSTR domain, LPCWSTR endpointName, CStringEx& root)
{
    root.Empty();
    // An account of this computer is checked against its local groups only.
    if (domain && endpointName && _wcsicmp(domain, endpointName) == 0)
        return TRUE;
    return m_query.GetSearchRoot(root) && !root.IsEmpty();
}
