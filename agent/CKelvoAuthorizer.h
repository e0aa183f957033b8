#pragma once
#include "common/CADQuery.h"

// Decides whether an identified user may open the cart drawers: granted by configuration
// without a directory check, or by the configured directory groups, or by the local
// administrators check; and whether the user may bind a cart bound to another computer to
// this one. It logs each decision; telling the cart and the user is the caller's part.
class CKelvoAuthorizer
{
public:
    enum class Verdict
    {
        PreAuthorized,   // granted by configuration, no directory asked
        Authorized,      // granted by the groups or the local check
        Refused,         // the directory said no
        NoDomain,        // the sign-in named no domain: nothing can be asked
        NoSearchRoot,    // the directory's search root could not be found
    };
    struct Decision
    {
        Verdict verdict;
        UINT messageId;  // what the user is shown, 0 for nothing
    };
    // Settings that decide: configuration keys 640 and 641.
    struct Settings
    {
        bool preAuthorized = false;
        CStringEx groupList;
    };

    explicit CKelvoAuthorizer(CADQuery& query) noexcept : m_query(query) {}

    Decision Authorize(const Settings& settings, LPCWSTR user, LPCWSTR domain, LPCWSTR endpointName);

    enum class RebindVerdict
    {
        Allowed,
        NoSearchRoot,
        NotAdministrator,
    };
    // Only a member of this computer's administrators may bind the cart here; the message
    // id says what the user is shown when not allowed.
    RebindVerdict MayRebind(LPCWSTR user, LPCWSTR domain, LPCWSTR endpointName, UINT& messageId);

private:
    // The root of the directory searches for a user of `domain`: empty for an account of
    // this computer, otherwise the directory's own, asked afresh. FALSE when none is found.
    BOOL FindSearchRoot(LPCWSTR domain, LPCWSTR endpointName, CStringEx& root);

    CADQuery& m_query;
};
