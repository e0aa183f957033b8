#pragma once
#include "common/CStringEx.h"
#include <atomic>

// One directory account as the picker shows and returns it.
class CADObject
{
public:
    // What the directory reported for the account (as CQuerySearchContext::GetKind).
    enum Kind : int { KindNotFound = 0, KindAccount = 1, KindGroup = 2 };

    CADObject();
    CADObject(const CStringEx& domain, const CStringEx& name, int kind);
    CADObject(const CADObject& other);
    CADObject& operator=(const CADObject& other) = default;
    ~CADObject();
    // How many objects exist in the process: rows travel between threads as raw pointers,
    // and this shows whether every one of them was deleted.
    static long Alive() noexcept;
    // An entry of a stored list that could not be looked up: kept with its text as given.
    static CADObject Unresolved(const CStringEx& givenText);

    // The text the list shows and stores: "domain\name", or the given text of an entry
    // that was not found (written back exactly as it came).
    CStringEx GetListText() const;
    // Whether both stand for the same account: domain and name without regard to case
    // (entries not found compare by their text).
    bool IsSameAccount(const CADObject& other) const;

    CStringEx m_domain;      // NetBIOS name of the domain, or the computer name for local accounts
    CStringEx m_name;        // the account name as the directory spells it
    CStringEx m_displayName; // the first extra display attribute
    CStringEx m_description; // the second extra display attribute
    int m_kind = KindNotFound;
    CStringEx m_givenText;   // the entry as it was written, for an entry not found
};
