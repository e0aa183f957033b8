// The editor's own file as shipped beside it: every key the configured programs read has a
// definition, every definition is one the editor can show and edit, and what the editor
// writes for an incomplete file is what the program would have done without it.
#include "EditorTestSupport.h"
#include "common/CConfigurationEx.h"
#include "common/CResourceLoader.h"
#include "configeditor/CAgentSetting.h"
#include "configeditor/CAppConfigSetting.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <climits>
#include <set>

using namespace editor_test;

namespace
{
class ShippedDefinitions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(0u, CResourceLoader::Instance().Load());
        m_own = new CConfigurationEx();
        const std::wstring path = BinFolder() + L"\\KelvoAgentConfig.exe.config";
        ASSERT_EQ(S_OK, m_own->LoadFile(path.c_str())) << "the editor's own file is not beside it";
        ASSERT_EQ(S_OK, CAppConfigSetting::ReadAll(*m_own, m_apps));
    }
    void TearDown() override
    {
        m_apps.clear();
        m_own = nullptr;
        CoUninitialize();
    }
    // The settings the editor shows for the application.
    CAgentSettingMap SettingsOf(const wchar_t* application)
    {
        CAgentSettingMap settings;
        const int index = CAppConfigSetting::Find(m_apps, application);
        EXPECT_GE(index, 0) << Narrow(application) << " has no application entry";
        if (index >= 0)
        {
            EXPECT_EQ(S_OK, CAgentSetting::ReadDefinitions(*m_own, m_apps[index]->GetSection(), settings));
        }
        return settings;
    }

    _CObjectExPtr<CConfigurationEx> m_own;
    CAppConfigSettingMap m_apps;
};

// Keys of the agent window's settings, by string ID.
constexpr UINT kShowExitItem = 444;
constexpr UINT kPromptTimeout = 449;
constexpr UINT kEndAccessOnLock = 450;
constexpr UINT kEndAccessItemText = 451;
constexpr UINT kRetryAuthStart = 453;
constexpr UINT kStartAuthItemText = 516;
constexpr UINT kGrantWithoutCheck = 640;
constexpr UINT kAuthGroups = 641;

struct ProgramKeys
{
    const char* label;
    const wchar_t* application;
    LONG kind;
    std::vector<UINT> keys;
};

void PrintTo(const ProgramKeys& value, std::ostream* out)
{
    *out << value.label;
}

class EveryKeyIsDefined : public ShippedDefinitions, public ::testing::WithParamInterface<ProgramKeys>
{
};

// The keys each program reads from its file, by their string IDs.
const ProgramKeys kProgramKeys[] = {
    { "Agent", L"KelvoAgent", CAppConfigSetting::KindDesktopProgram,
      { IDS_CFG_CART_HARDWARE_IDS, kShowExitItem, kPromptTimeout, kEndAccessOnLock, kEndAccessItemText,
        kRetryAuthStart, kStartAuthItemText, IDS_CFG_LOG_RETENTION_DAYS, IDS_CFG_LOG_LEVEL, kGrantWithoutCheck,
        kAuthGroups } },
    { "Service", L"KelvoConfigSvc", CAppConfigSetting::KindService, { IDS_CFG_LOG_RETENTION_DAYS, IDS_CFG_LOG_LEVEL } },
    { "Editor", L"KelvoAgentConfig", CAppConfigSetting::KindNobody, { IDS_CFG_LOG_RETENTION_DAYS, IDS_CFG_LOG_LEVEL } },
};
}

TEST_P(EveryKeyIsDefined, EachKeyTheProgramReadsHasExactlyOneDefinitionAndTheProgramIsToldItsWay)
{
    const ProgramKeys& program = GetParam();
    const CAgentSettingMap settings = SettingsOf(program.application);
    std::multiset<std::wstring> defined;
    for (const auto& entry : settings)
        defined.insert(entry.second->GetKey().GetString());
    for (const UINT id : program.keys)
    {
        const std::wstring key = ResourceText(id);
        EXPECT_EQ(1u, defined.count(key)) << "key " << id << " (" << Narrow(key) << ") of " << program.label;
    }
    EXPECT_EQ(program.keys.size(), settings.size()) << "definitions for keys the program never reads";
    const int index = CAppConfigSetting::Find(m_apps, program.application);
    ASSERT_GE(index, 0);
    EXPECT_EQ(program.kind, m_apps[index]->GetKind());
}

INSTANTIATE_TEST_SUITE_P(Programs, EveryKeyIsDefined, ::testing::ValuesIn(kProgramKeys),
                         [](const ::testing::TestParamInfo<ProgramKeys>& info) { return info.param.label; });

// A typing error in a type or a default would make the editor show a setting as text, or
// offer a default it then refuses.
TEST_F(ShippedDefinitions, EveryDefinitionHasACaptionAKnownTypeAndADefaultItsEditorAccepts)
{
    for (const auto& app : m_apps)
    {
        CAgentSettingMap settings;
        ASSERT_EQ(S_OK, CAgentSetting::ReadDefinitions(*m_own, app.second->GetSection(), settings));
        ASSERT_FALSE(settings.empty()) << Narrow(app.second->GetName().GetString());
        for (const auto& entry : settings)
        {
            const CAgentSetting& setting = *entry.second;
            const std::string where = Narrow(app.second->GetName().GetString()) + "/" + Narrow(setting.GetKey().GetString());
            EXPECT_FALSE(setting.GetCaptionText().IsEmpty()) << where;
            EXPECT_TRUE(setting.GetType() != EAgentSettingType::Text || setting.GetTypeName().CompareNoCase(L"Text") == 0)
                << where << " has the unknown type " << Narrow(setting.GetTypeName().GetString());
            const CStringEx value = setting.GetValueText(0);
            switch (setting.GetType())
            {
            case EAgentSettingType::Boolean:
                EXPECT_TRUE(value == CAgentSetting::GetBooleanText(true) || value == CAgentSetting::GetBooleanText(false))
                    << where;
                break;
            case EAgentSettingType::Number:
            {
                const LONG number = setting.GetNumber();
                if (setting.HasLimits())
                {
                    EXPECT_GE(number, setting.GetCurrentLow()) << where;
                    EXPECT_LE(number, setting.GetCurrentHigh()) << where;
                }
                CStringEx name;
                if (!setting.GetNamedValues().empty())
                {
                    EXPECT_TRUE(setting.GetNamedValue(number, name)) << where << ": the default has no name";
                }
                break;
            }
            case EAgentSettingType::List:
                if (setting.IsRequired())
                {
                    EXPECT_GT(setting.GetValueCount(), 0) << where << ": required without a default";
                }
                break;
            default:
                break;
            }
        }
    }
}

// The agent reads a missing entry as false, 0 or empty; where that differs from what it
// does without any file, the definition is required and the editor writes the default.
TEST_F(ShippedDefinitions, AnAgentFileWithoutEntriesIsCompletedSoTheAgentBehavesAsWithoutAFile)
{
    const std::wstring folder = MakeTempFolder(L"defaults");
    const std::wstring path = folder + L"\\KelvoAgent.exe.config";
    WriteFileBytes(path, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<configuration>\r\n\t<appSettings>\r\n\t</appSettings>\r\n</configuration>\r\n");

    CAgentSettingMap settings = SettingsOf(L"KelvoAgent");
    _CObjectExPtr<CConfigurationEx> target(new CConfigurationEx());
    ASSERT_EQ(S_OK, target->LoadFile(path.c_str()));
    CAgentSetting::LoadValues(settings, *target);
    ASSERT_TRUE(CAgentSetting::AnyChanges(settings)) << "required entries were not marked for writing";
    ASSERT_EQ(S_OK, CAgentSetting::WriteChanges(settings, *target));
    ASSERT_EQ(S_OK, target->Save());

    // Read back with the queries the agent uses.
    CConfigurationEx agentView;
    ASSERT_EQ(S_OK, agentView.LoadFile(path.c_str()));
    EXPECT_TRUE(agentView.GetBool(kEndAccessOnLock));
    EXPECT_TRUE(agentView.GetBool(kRetryAuthStart));
    std::vector<CStringEx> carts;
    EXPECT_TRUE(agentView.GetList(IDS_CFG_CART_HARDWARE_IDS, carts));
    EXPECT_FALSE(carts.empty());
    // Settings whose missing entry already means the agent's own initial value stay out.
    CStringEx text;
    EXPECT_FALSE(agentView.GetValue(kShowExitItem, text));
    EXPECT_FALSE(agentView.GetValue(kPromptTimeout, text));
    EXPECT_FALSE(agentView.GetValue(IDS_CFG_LOG_LEVEL, text));
    DeleteTree(folder);
}
