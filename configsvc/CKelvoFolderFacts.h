#pragma once
#include "common/CStringEx.h"
#include <windows.h>
#include <vector>

// What the service knows about a folder it is asked to write into, and whether it trusts
// it. A folder that someone made before the product was installed (program data is open
// to every user) may still be that user's, with what he put inside; a folder that is a
// link leads elsewhere. The decision is a function of these facts, so that it can be
// checked for owners a test machine cannot give a folder; Read only gathers them.
struct CKelvoFolderFacts
{
    bool exists = false;
    bool directory = false;
    bool reparsePoint = false;
    // The folder's owner SID; empty when it could not be read.
    std::vector<BYTE> owner;

    // Trusted: an existing plain folder owned by SYSTEM, by the Administrators group, or by
    // the account the service itself runs as (LocalSystem, as the product installs it).
    bool IsTrusted(PSID serviceAccount) const;

    static CKelvoFolderFacts Read(LPCWSTR folder);
    // The same facts of a folder held open (read through the handle, not a path).
    static CKelvoFolderFacts Read(HANDLE folder);
    // The account this process runs as; empty when the process token cannot be read.
    static std::vector<BYTE> ServiceAccount();
    // The owner as text for the log ("S-1-5-..."), or "?".
    CStringEx OwnerText() const;
};
