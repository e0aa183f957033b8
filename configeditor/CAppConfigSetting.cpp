#include "configeditor/CAppConfigSetting.h"
#include "common/CConfigurationEx.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"
#include "resources/KVIdsConfig.h"
#include "resources/KVIdsConfigEditorValues.h"

CAppConfigSetting::CAppConfigSetting(int index, LPCWSTR name, LONG kind, LPCWSTR section)
    : m_index(index), m_name(name), m_kind(kind), m_section(section)
{
}

CAppConfigSetting::~CAppConfigSetting() = default;

HRESULT CAppConfigSetting::ReadAll(CConfigurationEx& own, CAppConfigSettingMap& apps)
{
    try
    {
        apps.clear();
        _CObjectExPtr<CXMLDOMNodeEx> root = own.GetRootNode();
        if (!root)
            return S_FALSE;
        _CObjectExPtr<CXMLDOMNodeListEx> nodes = root->SelectNodes(CResourceLoader::Instance().LoadText(IDS_EDT_APPLICATIONS_XPATH));
        if (!nodes)
            return E_FAIL;
        int index = 0;
        while (_CObjectExPtr<CXMLDOMNodeEx> node = nodes->NextNode())
        {
            apps[index] = MakeObjectEx<CAppConfigSetting>(index, node->GetAttribute(IDS_CFG_KEY_ATTRIBUTE),
                                                          node->GetAttributeNumber(IDS_EDT_DEF_TYPE, KindNobody),
                                                          node->GetAttribute(IDS_EDT_APP_SECTION));
            ++index;
        }
        return S_OK;
    }
    catch (...)
    {
        return HResultFromCaughtException();
    }
}

int CAppConfigSetting::Find(const CAppConfigSettingMap& apps, LPCWSTR name)
{
    for (const auto& [index, app] : apps)
    {
        if (app && app->GetName().CompareNoCase(name) == 0)
            return index;
    }
    return -1;
}
