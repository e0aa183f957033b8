#pragma once
#include "configsec/CADObject.h"
#include "configsec/CSmartList.h"

// The stored cart-access value: entries "domain\name" joined by the list separator text.
class CCartAccessValue
{
public:
    // How the entries of a value were looked up.
    struct LoadReport
    {
        bool directoryUnreachable = false; // a domain member whose directory gave no search root
        size_t unresolved = 0;             // entries kept as they were written
    };

    // Splits the value into entries (empty entries carry nothing and are dropped) and looks
    // each one up: an entry of this computer among its own accounts, an entry of the
    // joined domain in the directory. A found entry takes the spelling of the directory;
    // every other entry is kept exactly as written, so it is written back unchanged.
    static void Load(const CStringEx& value, CSmartList<CADObject*>& list, LoadReport& report);
    // The entries split at the separator text, in order, without empty ones.
    static std::vector<CStringEx> Split(const CStringEx& value);
    // The list in the stored form: the separator text between entries, none around them.
    static CStringEx Write(const CSmartList<CADObject*>& list);
};
