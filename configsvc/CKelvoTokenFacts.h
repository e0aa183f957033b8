#pragma once
#include <windows.h>

// What a caller's token says about its membership of the local Administrators group, and
// the decision the service takes from it. The decision is a function of these facts alone,
// so that it can be checked for tokens this machine cannot make (an administrator's
// filtered token with its elevated twin, a low-integrity token); Read gathers the facts
// from a real token and decides nothing.
struct CKelvoTokenFacts
{
    // The token's own membership (an enabled group, not a deny-only one).
    bool member = false;
    // The token carries restricting SIDs (a sandbox made from a user's token).
    bool restricted = false;
    // The token is write-restricted: its restricting SIDs count only for writes, so its
    // groups say nothing about what its code may change (it carries WRITE RESTRICTED).
    bool writeRestricted = false;
    // The filtered token of an administrator running without elevation (User Account
    // Control): the group is deny-only here and enabled in the linked, elevated token.
    bool limited = false;
    // The linked token could be read, and its membership.
    bool linkedPresent = false;
    bool linkedMember = false;
    // The token's mandatory integrity level (SECURITY_MANDATORY_*_RID); 0 when unknown.
    DWORD integrity = 0;

    // An administrator of this computer: a member by its own token, or the unelevated
    // token of an administrator whose linked token is a member. Never a restricted or
    // write-restricted token, not even one that is itself a member (a sandbox keeps the
    // groups of the token it was made from), and never code below medium integrity (a
    // sandboxed process of an administrator), whatever its groups.
    bool IsAdministrator() const noexcept;

    // Reads the facts of token for group; a failure to read the token itself is returned,
    // a linked token that cannot be read only leaves linkedPresent false.
    static HRESULT Read(HANDLE token, PSID group, CKelvoTokenFacts& facts);

    // Whether token is a member of group. CheckTokenMembership takes only an impersonation
    // token, and a linked token read by a process that holds the Tcb privilege (the service,
    // as LocalSystem) is a primary one: such a token is first duplicated to an
    // identification-level impersonation token.
    static HRESULT MembershipOf(HANDLE token, PSID group, bool& member);
};
