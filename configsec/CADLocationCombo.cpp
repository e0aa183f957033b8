#include "configsec/CADLocationCombo.h"
#include "common/CResourceLoader.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"
#include "resources/KVIdsDirectory.h"
#include <windowsx.h>

namespace CADLocationCombo
{
void Fill(HWND combo, const std::vector<CADLocation>& locations, size_t selected)
{
    ComboBox_ResetContent(combo);
    if (locations.empty())
    {
        const int item = ComboBox_AddString(combo, CResourceLoader::Instance().LoadText(IDS_CONFIGSEC_LOCATION_UNKNOWN).GetString());
        ComboBox_SetItemData(combo, item, -1);
        return;
    }
    for (size_t i = 0; i < locations.size(); ++i)
    {
        const int item = ComboBox_AddString(combo, locations[i].name.GetString());
        ComboBox_SetItemData(combo, item, static_cast<LPARAM>(i));
    }
    ComboBox_SetCurSel(combo, static_cast<int>(selected < locations.size() ? selected : 0));
}

bool GetSelected(HWND combo, const std::vector<CADLocation>& locations, CADLocation& location)
{
    const int item = ComboBox_GetCurSel(combo);
    if (item == CB_ERR)
        return false;
    const LRESULT index = ComboBox_GetItemData(combo, item);
    if (index < 0 || static_cast<size_t>(index) >= locations.size())
        return false;
    location = locations[static_cast<size_t>(index)];
    return true;
}

void Select(HWND combo, const std::vector<CADLocation>& locations, const CADLocation& location)
{
    for (size_t i = 0; i < locations.size(); ++i)
        if (locations[i].local == location.local && locations[i].name.CompareNoCase(location.name) == 0)
        {
            const int count = ComboBox_GetCount(combo);
            for (int item = 0; item < count; ++item)
                if (ComboBox_GetItemData(combo, item) == static_cast<LRESULT>(i))
                    ComboBox_SetCurSel(combo, item);
        }
}

void ReportFailure(HWND owner, HRESULT hr, const CADLocation& location)
{
    if (hr == CADAccountSearch::kUnreachable)
    {
        ConfigSecInstance::MessageBox(owner, IDS_DIR_UNREACHABLE);
        return;
    }
    CStringEx text;
    CResourceLoader::Instance().FormatString(text, IDS_CONFIGSEC_SEARCH_FAILED, ConfigSecInstance::Caption(),
                                             static_cast<unsigned>(hr), location.name.GetString());
    ConfigSecInstance::MessageBoxText(owner, text);
}
}
