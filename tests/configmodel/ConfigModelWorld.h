#pragma once
#include "../config/ConfigTestSupport.h"
#include "common/CConfigurationEx.h"
#include "configeditor/CAgentSetting.h"
#include "configeditor/CAppConfigSetting.h"
#include <string>

// The editor's world on disk: its own definitions file (applications and the setting
// definitions of the section "AgentDefs") and the agent's target file, both in the test's
// folder, loaded the way the editor loads them.
class CConfigModelTest : public CTempFolderTest
{
protected:
    // Writes both files and loads them: the definitions become settings and the target's
    // entries their values. definitions: the <add> elements of the agent's section;
    // entries: the <add> elements of the target's appSettings (withSection false: a target
    // file without its appSettings element).
    void Load(const std::string& definitions, const std::string& entries, bool withSection = true);
    // A fresh read of the target file from disk.
    _CObjectExPtr<CConfigurationEx> Reread();
    // The setting of that key; fails the test when there is none.
    CAgentSetting& Setting(LPCWSTR key);
    std::string Display(LPCWSTR key);

    CStringEx m_ownPath;
    CStringEx m_targetPath;
    _CObjectExPtr<CConfigurationEx> m_own;
    _CObjectExPtr<CConfigurationEx> m_target;
    CAppConfigSettingMap m_apps;
    CAgentSettingMap m_settings;
};

// The number of value elements of the entry in a configuration as read from disk.
long ValueElementCount(CConfigurationEx& configuration, LPCWSTR key);
