#include "configsvc/CKelvoTokenFacts.h"
#include "common/CUniqueAnyEx.h"
#include <vector>

namespace
{
// Whether the token's groups hold the SID at all, enabled or not. A token whose groups
// cannot be read counts as holding it: the answer only ever refuses.
bool HasGroup(HANDLE token, PSID known)
{
    DWORD length = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &length);
    std::vector<BYTE> buffer(length);
    if (length == 0 || !GetTokenInformation(token, TokenGroups, buffer.data(), length, &length))
        return true;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i)
    {
        if (EqualSid(groups->Groups[i].Sid, known))
            return true;
    }
    return false;
}
}

bool CKelvoTokenFacts::IsAdministrator() const noexcept
{
    if (integrity < SECURITY_MANDATORY_MEDIUM_RID || restricted || writeRestricted)
        return false;
    if (member)
        return true;
    return limited && linkedPresent && linkedMember;
}

HRESULT CKelvoTokenFacts::MembershipOf(HANDLE token, PSID group, bool& member)
{
    member = false;
    TOKEN_TYPE type = TokenPrimary;
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenType, &type, sizeof(type), &length))
        return HRESULT_FROM_WIN32(GetLastError());
    CKernelHandleEx identification;
    if (type == TokenPrimary)
    {
        if (!DuplicateTokenEx(token, TOKEN_QUERY, nullptr, SecurityIdentification, TokenImpersonation,
                              identification.Put()))
            return HRESULT_FROM_WIN32(GetLastError());
        token = identification.Get();
    }
    BOOL isMember = FALSE;
    if (!CheckTokenMembership(token, group, &isMember))
        return HRESULT_FROM_WIN32(GetLastError());
    member = isMember != FALSE;
    return S_OK;
}

HRESULT CKelvoTokenFacts::Read(HANDLE token, PSID group, CKelvoTokenFacts& facts)
{
    facts = CKelvoTokenFacts();
    HRESULT hr = MembershipOf(token, group, facts.member);
    if (FAILED(hr))
        return hr;
    facts.restricted = IsTokenRestricted(token) != FALSE;
    // WRITE RESTRICTED (S-1-5-33), built here: not every system's table of well-known SIDs
    // has it.
    SID writeRestricted = { SID_REVISION, 1, SECURITY_NT_AUTHORITY, { SECURITY_WRITE_RESTRICTED_CODE_RID } };
    facts.writeRestricted = HasGroup(token, &writeRestricted);

    BYTE label[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof(label), &length))
    {
        const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
        if (IsValidSid(sid) && *GetSidSubAuthorityCount(sid) > 0)
            facts.integrity = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
    }

    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    facts.limited = GetTokenInformation(token, TokenElevationType, &elevation, sizeof(elevation), &length)
                    && elevation == TokenElevationTypeLimited;
    if (!facts.limited)
        return S_OK;
    // The linked token's membership is only a fact; whether it counts is the decision's.
    TOKEN_LINKED_TOKEN linked = {};
    if (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &length))
        return S_OK;
    CKernelHandleEx elevated(linked.LinkedToken);
    facts.linkedPresent = SUCCEEDED(MembershipOf(elevated.Get(), group, facts.linkedMember));
    return S_OK;
}
