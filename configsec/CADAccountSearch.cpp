#include "configsec/CADAccountSearch.h"
#include "common/CADQuery.h"
#include "common/CResourceLoader.h"
#include "common/CWMIQuerySearchContext.h"
#include "resources/KVIdsConfigSec.h"
#include "resources/KVIdsDirectory.h"
#include <new>

const HRESULT CADAccountSearch::kUnreachable = HRESULT_FROM_WIN32(ERROR_NO_SUCH_DOMAIN);

namespace
{
bool IsSet(HANDLE event)
{
    return event != nullptr && event != INVALID_HANDLE_VALUE && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}
}

std::vector<CADLocation> CADAccountSearch::GetLocations()
{
    std::vector<CADLocation> locations;
    const CStringEx computer = CADQuery::GetComputerName();
    if (!computer.IsEmpty())
        locations.push_back(CADLocation{ computer, true });
    const CStringEx netbios = CADQuery::GetDomainNetBiosName();
    const CStringEx dns = CADQuery::GetDomainDnsName();
    if (!dns.IsEmpty() || !netbios.IsEmpty())
        locations.push_back(CADLocation{ netbios.IsEmpty() ? dns : netbios, false });
    return locations;
}

size_t CADAccountSearch::DefaultLocation(const std::vector<CADLocation>& locations)
{
    for (size_t i = 0; i < locations.size(); ++i)
        if (!locations[i].local)
            return i;
    return 0;
}

CStringEx CADAccountSearch::BuildLdapFilter(int mode, const CStringEx& name)
{
    // The name is matched against the account name, and for an exact search also the
    // common and display names; surplus arguments of the prefix format are ignored.
    const CStringEx escaped = CADQuery::EscapeFilterValue(name);
    CStringEx filter;
    CResourceLoader::Instance().FormatString(filter, mode == MatchStartsWith ? IDS_CONFIGSEC_LDAP_NAME_PREFIX
                                                                             : IDS_CONFIGSEC_LDAP_NAME_EXACT,
                                             escaped.GetString(), escaped.GetString(), escaped.GetString());
    return filter;
}

CStringEx CADAccountSearch::BuildWmiCondition(int mode, const CStringEx& name)
{
    CStringEx condition;
    if (mode == MatchStartsWith)
        CResourceLoader::Instance().FormatString(condition, IDS_CONFIGSEC_WMI_NAME_PREFIX,
                                                 CWMIQuerySearchContext::EscapeLikePattern(name).GetString());
    else
        CResourceLoader::Instance().FormatString(condition, IDS_CONFIGSEC_WMI_NAME_EXACT,
                                                 CWMIQuerySearchContext::EscapeLiteral(name).GetString());
    return condition;
}

CStringEx CADAccountSearch::BuildWmiQuery(int mode, const CStringEx& name)
{
    CStringEx query;
    CResourceLoader::Instance().FormatString(query, IDS_CONFIGSEC_WMI_ACCOUNTS, BuildWmiCondition(mode, name).GetString());
    return query;
}

HRESULT CADAccountSearch::ReadRows(CQuerySearchContext& context, const CADLocation& location, LPCWSTR nameAttribute,
                                   LPCWSTR displayAttribute, LPCWSTR descriptionAttribute, HANDLE cancel,
                                   const RowHandler& onRow)
{
    for (;;)
    {
        if (IsSet(cancel))
            return S_OK;
        const HRESULT hr = context.NextRow();
        if (FAILED(hr))
            return hr;
        if (hr != S_OK)
            return S_OK;
        auto object = std::make_unique<CADObject>();
        if (FAILED(context.GetString(nameAttribute, object->m_name)) || object->m_name.IsEmpty())
            continue;
        // The display attributes are optional: many accounts have neither.
        context.GetString(displayAttribute, object->m_displayName);
        context.GetString(descriptionAttribute, object->m_description);
        object->m_domain = location.name;
        object->m_kind = context.GetKind();
        if (object->m_kind == CQuerySearchContext::KindUnknown)
            object->m_kind = CADObject::KindAccount;
        if (!onRow(std::move(object)))
            return S_OK;
    }
}

HRESULT CADAccountSearch::Search(const CADLocation& location, int mode, const CStringEx& name, HANDLE cancel,
                                 const RowHandler& onRow, const CStringEx& searchRoot)
{
    if (name.IsEmpty() || location.name.IsEmpty())
        return E_INVALIDARG;
    try
    {
        CResourceLoader& texts = CResourceLoader::Instance();
        if (location.local)
        {
            const CStringEx nameProperty = texts.LoadText(IDS_CONFIGSEC_WMI_PROP_NAME);
            const CStringEx fullName = texts.LoadText(IDS_CONFIGSEC_WMI_PROP_FULLNAME);
            const CStringEx description = texts.LoadText(IDS_CONFIGSEC_WMI_PROP_DESCRIPTION);
            _CObjectExPtr<CWMIQuerySearchContext> context;
            const HRESULT hr = CWMIQuerySearchContext::Execute(
                texts.LoadText(IDS_CONFIGSEC_WMI_NAMESPACE), texts.LoadText(IDS_CONFIGSEC_WMI_LANGUAGE),
                BuildWmiQuery(mode, name), texts.LoadText(IDS_CONFIGSEC_WMI_PROP_CLASS),
                texts.LoadText(IDS_CONFIGSEC_WMI_CLASS_GROUP), context);
            if (FAILED(hr))
                return hr;
            return ReadRows(*context, location, nameProperty, fullName, description, cancel, onRow);
        }

        CADQuery query;
        CStringEx root(searchRoot);
        if (root.IsEmpty() && !query.GetSearchRoot(root))
            return kUnreachable;
        if (IsSet(cancel))
            return S_OK;
        const CStringEx nameAttribute = texts.LoadText(IDS_DIR_ATTR_NAME);
        const CStringEx display = texts.LoadText(IDS_DIR_ATTR_DISPLAYNAME);
        const CStringEx description = texts.LoadText(IDS_DIR_ATTR_DESCRIPTION);
        const CStringEx classes = texts.LoadText(IDS_DIR_ATTR_OBJECTCLASS);
        LPCWSTR attributes[] = { nameAttribute, display, description, classes };
        _CObjectExPtr<CADQuerySearchContext> context;
        const HRESULT hr = query.Search(root, BuildLdapFilter(mode, name), attributes, ARRAYSIZE(attributes), context);
        if (FAILED(hr))
            return hr;
        return ReadRows(*context, location, nameAttribute, display, description, cancel, onRow);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT CADAccountSearch::FindExact(const CADLocation& location, const CStringEx& name,
                                    std::vector<std::unique_ptr<CADObject>>& found, const CStringEx& searchRoot)
{
    found.clear();
    return Search(
        location, MatchExact, name, nullptr,
        [&](std::unique_ptr<CADObject> object) {
            found.push_back(std::move(object));
            return true;
        },
        searchRoot);
}
