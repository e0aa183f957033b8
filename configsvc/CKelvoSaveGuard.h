#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// The checks a save on behalf of a client passes before the service, which runs as
// LocalSystem, writes anything: who calls, which file, what document. Each refusal is
// logged and touches nothing.
class CKelvoSaveGuard
{
public:
    // The caller must be a member of the local Administrators group by its own token (for
    // an administrator running without elevation: by its logon's linked, elevated token)
    // and must be the account the request names. The caller is the COM client of the call
    // being served (impersonated), or, for a call from inside this process, the calling
    // thread's own identity. S_OK or E_ACCESSDENIED.
    static HRESULT CheckCaller(LPCWSTR claimedUser);

    // Only an absolute path on a local drive ("C:\folder\name.config") whose file name
    // ends in ".config" is written: no UNC, device or alternate-stream syntax, no relative
    // parts, no reserved device names, and no reparse point (link, junction, mount point)
    // on any existing part of the way. S_OK or E_INVALIDARG.
    static HRESULT CheckPath(LPCWSTR path);

    // The document must parse with document type declarations prohibited and external
    // resources not resolved; a document that declares a document type is refused even by
    // a parser that would accept it. S_OK or E_FAIL.
    static HRESULT CheckXml(LPCWSTR xml);

    // The account name the saved file is granted to: this computer's name for a local
    // account (the domain named is the computer), otherwise the joined domain's name, as
    // the domain-backslash-user text that account look-up resolves. Empty when the join
    // information cannot be read.
    static CStringEx TrusteeName(LPCWSTR user, LPCWSTR domain);
};
