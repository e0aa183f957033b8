#include "configsec/CCartAccessValue.h"
#include "common/CADQuery.h"
#include "common/CResourceLoader.h"
#include "configsec/CADAccountSearch.h"
#include "resources/KVIdsDirectory.h"

namespace
{
CStringEx Separator()
{
    return CResourceLoader::Instance().LoadText(IDS_DIR_GROUP_SEPARATOR);
}

bool IsBlank(const CStringEx& text)
{
    CStringEx trimmed(text);
    return trimmed.Trim().IsEmpty();
}

// Where an entry's account can be looked up: this computer, or the joined domain when
// its directory answers. Entries of other domains, and bare names, are not looked up.
bool FindLocation(const CStringEx& domain, const std::vector<CADLocation>& locations, bool haveRoot,
                  CADLocation& location)
{
    const CStringEx dns = CADQuery::GetDomainDnsName();
    for (const CADLocation& candidate : locations)
    {
        const bool named = candidate.name.CompareNoCase(domain) == 0 ||
                           (!candidate.local && !dns.IsEmpty() && dns.CompareNoCase(domain) == 0);
        if (named && (candidate.local || haveRoot))
        {
            location = candidate;
            return true;
        }
    }
    return false;
}
}

std::vector<CStringEx> CCartAccessValue::Split(const CStringEx& value)
{
    std::vector<CStringEx> entries;
    const CStringEx separator = Separator();
    int start = 0;
    while (start <= value.GetLength())
    {
        const int at = separator.IsEmpty() ? -1 : value.Find(separator, start);
        const CStringEx entry = at < 0 ? value.Mid(start) : value.Mid(start, at - start);
        if (!IsBlank(entry))
            entries.push_back(entry);
        if (at < 0)
            break;
        start = at + separator.GetLength();
    }
    return entries;
}

void CCartAccessValue::Load(const CStringEx& value, CSmartList<CADObject*>& list, LoadReport& report)
{
    report = LoadReport();
    const std::vector<CStringEx> entries = Split(value);
    if (entries.empty())
        return;

    const std::vector<CADLocation> locations = CADAccountSearch::GetLocations();
    // The search root is read once for the whole list.
    bool joined = false;
    for (const CADLocation& location : locations)
        joined = joined || !location.local;
    CStringEx root;
    if (joined)
    {
        CADQuery query;
        if (!query.GetSearchRoot(root))
            root.Empty();
        report.directoryUnreachable = root.IsEmpty();
    }
    const bool haveRoot = !root.IsEmpty();

    for (const CStringEx& entry : entries)
    {
        CStringEx text(entry);
        text.Trim();
        const int slash = text.Find(L'\\');
        CStringEx domain = slash < 0 ? CStringEx() : text.Left(slash);
        CStringEx name = slash < 0 ? CStringEx() : text.Mid(slash + 1);
        domain.Trim();
        name.Trim();

        CADLocation location;
        std::vector<std::unique_ptr<CADObject>> found;
        if (!domain.IsEmpty() && !name.IsEmpty() && FindLocation(domain, locations, haveRoot, location) &&
            SUCCEEDED(CADAccountSearch::FindExact(location, name, found, root)) && found.size() == 1)
        {
            list.Add(std::move(found.front()));
            continue;
        }
        ++report.unresolved;
        list.AddCopy(CADObject::Unresolved(entry));
    }
}

CStringEx CCartAccessValue::Write(const CSmartList<CADObject*>& list)
{
    const CStringEx separator = Separator();
    CStringEx text;
    for (size_t i = 0; i < list.GetCount(); ++i)
    {
        if (!text.IsEmpty())
            text += separator;
        text += list.GetAt(i)->GetListText();
    }
    return text;
}
