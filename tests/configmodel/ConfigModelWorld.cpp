#include "ConfigModelWorld.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"

void CConfigModelTest::Load(const std::string& definitions, const std::string& entries, bool withSection)
{
    m_ownPath = PathOf(L"KelvoAgentConfig.exe.config");
    m_targetPath = PathOf(L"KelvoAgent.exe.config");
    WriteBytes(m_ownPath,
               "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<configuration>\n"
               "<appSettings><add key=\"LogLevel\"><value>0</value></add></appSettings>\n"
               "<applications>\n"
               "  <application key=\"KelvoAgent\" type=\"1\" section=\"AgentDefs\"/>\n"
               "  <application key=\"KelvoConfigSvc\" type=\"2\" section=\"SvcDefs\"/>\n"
               "  <application key=\"KelvoAgentConfig\" section=\"EditorDefs\"/>\n"
               "</applications>\n"
               "<commonSettings><add key=\"LogLevel\"><caption>Log level</caption><type>Number</type>"
               "<min>0</min><max>5</max><default>2</default></add></commonSettings>\n"
               "<AgentDefs>" + definitions + "</AgentDefs>\n"
               "<SvcDefs><add key=\"SvcOnly\"><caption>Service only</caption></add></SvcDefs>\n"
               "</configuration>\n");
    WriteBytes(m_targetPath, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<configuration>" +
                                 (withSection ? "<appSettings>" + entries + "</appSettings>" : entries) +
                                 "</configuration>\n");
    m_own = MakeObjectEx<CConfigurationEx>();
    ASSERT_EQ(S_OK, m_own->LoadFile(m_ownPath));
    m_target = MakeObjectEx<CConfigurationEx>();
    ASSERT_EQ(S_OK, m_target->LoadFile(m_targetPath));
    ASSERT_EQ(S_OK, CAppConfigSetting::ReadAll(*m_own, m_apps));
    ASSERT_EQ(S_OK, CAgentSetting::ReadDefinitions(*m_own, m_apps[0]->GetSection(), m_settings));
    CAgentSetting::LoadValues(m_settings, *m_target);
}

_CObjectExPtr<CConfigurationEx> CConfigModelTest::Reread()
{
    _CObjectExPtr<CConfigurationEx> file = MakeObjectEx<CConfigurationEx>();
    EXPECT_EQ(S_OK, file->LoadFile(m_targetPath));
    return file;
}

CAgentSetting& CConfigModelTest::Setting(LPCWSTR key)
{
    for (auto& [index, setting] : m_settings)
    {
        if (setting->GetKey() == key)
            return *setting;
    }
    ADD_FAILURE() << "no setting " << Utf8(key);
    throw std::runtime_error("no setting");
}

std::string CConfigModelTest::Display(LPCWSTR key)
{
    CStringEx text;
    Setting(key).GetDisplayText(text);
    return Utf8(text);
}

long ValueElementCount(CConfigurationEx& configuration, LPCWSTR key)
{
    CStringEx xpath;
    xpath.Format(L"appSettings/add[@key='%s']/value", key);
    _CObjectExPtr<CXMLDOMNodeListEx> values = configuration.GetRootNode()->SelectNodes(xpath);
    return values ? values->Length() : -1;
}
