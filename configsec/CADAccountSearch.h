#pragma once
#include "common/CQuerySearchContext.h"
#include "configsec/CADObject.h"
#include <functional>
#include <memory>
#include <vector>

// A place the picker searches: this computer's own accounts (through WMI) or the
// domain's directory (LDAP below the search root).
struct CADLocation
{
    CStringEx name; // the computer name or the domain's NetBIOS name
    bool local = true;
};

// Searches a location for accounts and groups by name and turns each row into a CADObject.
class CADAccountSearch
{
public:
    enum MatchMode : int { MatchExact = 0, MatchStartsWith = 1 };

    // Answered when the domain's directory cannot be reached (no search root).
    static const HRESULT kUnreachable;

    // The computer, then the domain when this computer is a member of one. Empty when
    // neither is known.
    static std::vector<CADLocation> GetLocations();
    // The location that is selected first: the domain when there is one, else the computer.
    static size_t DefaultLocation(const std::vector<CADLocation>& locations);

    // Calls onRow for each account or group whose name matches, in the directory's
    // order; stops early when onRow answers false or the cancel event (when valid) is set.
    // S_OK when the search ran to its end (or was stopped), kUnreachable, or the
    // directory's error. The name is escaped for the query language of the location.
    // A domain search reads the directory's search root first, unless the caller already
    // has it (searchRoot not empty).
    using RowHandler = std::function<bool(std::unique_ptr<CADObject>)>;
    static HRESULT Search(const CADLocation& location, int mode, const CStringEx& name, HANDLE cancel,
                          const RowHandler& onRow, const CStringEx& searchRoot = CStringEx());

    // The whole result of an exact search, for resolving one name.
    static HRESULT FindExact(const CADLocation& location, const CStringEx& name,
                             std::vector<std::unique_ptr<CADObject>>& found, const CStringEx& searchRoot = CStringEx());

    // The query text each location would run for the name (used by Search; tests read it
    // to see the escaping). The WMI query is its name condition applied to the accounts.
    static CStringEx BuildLdapFilter(int mode, const CStringEx& name);
    static CStringEx BuildWmiCondition(int mode, const CStringEx& name);
    static CStringEx BuildWmiQuery(int mode, const CStringEx& name);

private:
    static HRESULT ReadRows(CQuerySearchContext& context, const CADLocation& location, LPCWSTR nameAttribute,
                            LPCWSTR displayAttribute, LPCWSTR descriptionAttribute, HANDLE cancel,
                            const RowHandler& onRow);
};
