#include "ConfigModelWorld.h"
#include "common/CMultiSzStringEx.h"

namespace
{
// One definition, the target's entry for it, and what the editor's list shows.
struct DisplayCase
{
    const char* name;
    std::string definition;
    std::string entry;
    const char* shown;
    bool changed;
};

std::ostream& operator<<(std::ostream& out, const DisplayCase& c)
{
    return out << c.name;
}

std::string Def(const std::string& type, const std::string& extra = "", const std::string& key = "S")
{
    return "<add key=\"" + key + "\"><caption>Setting</caption><type>" + type + "</type>" + extra + "</add>";
}

std::string Entry(const std::string& inner, const std::string& key = "S")
{
    return "<add key=\"" + key + "\">" + inner + "</add>";
}

std::string Value(const std::string& text)
{
    return "<value>" + text + "</value>";
}

const std::string kNamed = "<named value=\"0\">Off</named><named value=\"4\">Events</named>";
const std::string kRangeDef = "<min>0</min><max>10</max>";

class SettingDisplay : public CConfigModelTest, public ::testing::WithParamInterface<DisplayCase>
{
};
}

TEST_P(SettingDisplay, EveryTypeLoadsFromTheTargetAndShowsItsValue)
{
    const DisplayCase& c = GetParam();
    Load(c.definition, c.entry);
    EXPECT_EQ(c.shown, Display(L"S"));
    EXPECT_EQ(c.changed, Setting(L"S").HasChanges());
}

INSTANTIATE_TEST_SUITE_P(
    Types, SettingDisplay,
    ::testing::Values(
        DisplayCase{ "BooleanYes", Def("boolean"), Entry(Value("1")), "Yes", false },
        DisplayCase{ "BooleanWordIsNo", Def("Boolean"), Entry(Value("true")), "No", false },
        DisplayCase{ "NumberNamed", Def("Number", kNamed), Entry(Value("4")), "Events", false },
        DisplayCase{ "NumberNamedWithoutMatchShowsNothing", Def("Number", kNamed), Entry(Value("3")), "", false },
        DisplayCase{ "NumberReadAsTheAgentReadsIt", Def("NUMBER"), Entry(Value("010")), "8", false },
        DisplayCase{ "KeyCtrlA", Def("Key"), Entry(Value("0x20041")), "Ctrl+A", false },
        DisplayCase{ "KeyNone", Def("Key"), Entry(Value("0")), "(none)", false },
        DisplayCase{ "KeyModifiersWithoutKeyAreNone", Def("Key"), Entry(Value("0x70000")), "(none)", false },
        DisplayCase{ "KeyAllModifiersF5", Def("Key"), Entry(Value("0x70074")), "Alt+Ctrl+Shift+F5", false },
        DisplayCase{ "KeyNamedKey", Def("Key"), Entry(Value("0x200BA")), "Ctrl+;", false },
        DisplayCase{ "KeyUnknown", Def("Key"), Entry(Value("0x7")), "(unknown key)", false },
        DisplayCase{ "File", Def("File"), Entry(Value("beep.wav")), "beep.wav", false },
        DisplayCase{ "ListFromFileOverDefaults", Def("List", "<default>a</default><default>b</default>"),
                     Entry(Value("x") + Value("y") + Value("z")), "x y z", false },
        DisplayCase{ "ListMissingKeepsDefaults", Def("List", "<default>a</default><default></default><default>b</default>"),
                     "", "a b", false },
        DisplayCase{ "ListEntryWithoutValuesIsEmpty", Def("List", "<default>a</default>"), Entry(""), "", false },
        DisplayCase{ "Range", Def("Range", kRangeDef), Entry("<min>3</min><max>7</max>"), "3 to 7", false },
        DisplayCase{ "RangeMissingShowsTheLimits", Def("range", kRangeDef), "", "0 to 10", false },
        DisplayCase{ "RangeMissingRequiredIsChanged", Def("Range", kRangeDef + "<required>1</required>"), "",
                     "0 to 10", true },
        DisplayCase{ "RangeHalfMissingRequiredIsChanged", Def("Range", kRangeDef + "<required>1</required>"),
                     Entry("<min>3</min>"), "0 to 10", true },
        DisplayCase{ "CartAccess", Def("cartaccess"), Entry(Value("HQ\\nurses;HQ\\ward 4")), "HQ\\nurses;HQ\\ward 4", false },
        DisplayCase{ "UnknownTypeIsText", Def("Colour", "<default>red</default>"), Entry(Value("blue")), "blue", false },
        DisplayCase{ "MissingTextKeepsTheDefault", Def("", "<default>red</default>"), "", "red", false },
        DisplayCase{ "RequiredTextMissingIsChanged", Def("Text", "<default>red</default><required>1</required>"), "",
                     "red", true }),
    [](const ::testing::TestParamInfo<DisplayCase>& info) { return std::string(info.param.name); });

TEST_F(CConfigModelTest, ApplicationsAndDefinitionsAreReadInDocumentOrder)
{
    Load(Def("Text", "<note>in seconds</note>", "A") + Def("File", "<filter value=\"Sounds\">*.wav</filter><filter>*.mp3</filter>", "B"), "");

    ASSERT_EQ(3u, m_apps.size());
    EXPECT_EQ(L"KelvoConfigSvc", m_apps[1]->GetName().Str());
    EXPECT_EQ(CAppConfigSetting::KindService, m_apps[1]->GetKind());
    EXPECT_EQ(CAppConfigSetting::KindDesktopProgram, m_apps[0]->GetKind());
    EXPECT_EQ(CAppConfigSetting::KindNobody, m_apps[2]->GetKind());
    EXPECT_EQ(2, CAppConfigSetting::Find(m_apps, L"kelvoagentconfig"));
    EXPECT_EQ(-1, CAppConfigSetting::Find(m_apps, L"KelvoAgent.exe"));

    // The common definitions come first and the numbering goes on into the section's own.
    ASSERT_EQ(3u, m_settings.size());
    EXPECT_EQ(L"LogLevel", m_settings[0]->GetKey().Str());
    EXPECT_EQ(L"A", m_settings[1]->GetKey().Str());
    CStringEx caption;
    m_settings[1]->GetCaption(caption);
    EXPECT_EQ(L"Setting (in seconds)", caption.Str());
    m_settings[2]->GetCaption(caption);
    EXPECT_EQ(L"Setting", caption.Str());

    // The browse dialog's filters: description and pattern pairs; a filter without a
    // description is described by its pattern, so the list never ends early.
    CMultiSzStringEx filters;
    m_settings[2]->GetFilterList(filters);
    ASSERT_EQ(4u, filters.GetCount());
    EXPECT_EQ(std::wstring(L"Sounds\0*.wav\0*.mp3\0*.mp3\0\0", 26), std::wstring(filters.GetData(), filters.GetLength()));

    // An application whose section has no definitions has only the common ones; nothing is
    // read from a configuration that is not loaded.
    EXPECT_EQ(S_OK, CAgentSetting::ReadDefinitions(*m_own, m_apps[2]->GetSection(), m_settings));
    EXPECT_EQ(1u, m_settings.size());
    CConfigurationEx empty;
    EXPECT_EQ(S_FALSE, CAgentSetting::ReadDefinitions(empty, L"AgentDefs", m_settings));
    EXPECT_EQ(1u, m_settings.size());
}

// Every type edited the way the editor does it, written back, saved and read again.
TEST_F(CConfigModelTest, EditsOfEveryTypeAreWrittenBackAndReadAgainUnchanged)
{
    Load(Def("Boolean", "", "B") + Def("Number", "<min>1</min><max>10</max>", "N") + Def("Key", "", "K") +
             Def("File", "", "F") + Def("List", "", "L") + Def("Range", kRangeDef, "R") +
             Def("Range", kRangeDef, "NewRange") + Def("CartAccess", "", "C") + Def("Text", "", "T"),
         Entry(Value("1"), "B") + Entry(Value("5"), "N") + Entry(Value("0x41"), "K") + Entry(Value("a.wav"), "F") +
             Entry(Value("one") + Value("two") + Value("three"), "L") + Entry("<min>1</min><max>2</max>", "R") +
             Entry(Value("D\\a"), "C") + Entry(Value("old"), "T"));
    ASSERT_FALSE(CAgentSetting::AnyChanges(m_settings));

    // Each edit goes through a clone, as the value editors work.
    auto edit = [&](LPCWSTR key, LPCWSTR text) {
        _CObjectExPtr<CAgentSetting> clone = Setting(key).Clone();
        clone->SetValueText(text, TRUE, 0);
        Setting(key).TakeEdit(*clone);
    };
    edit(L"B", CAgentSetting::GetBooleanText(false));
    edit(L"N", L"7");
    edit(L"K", L"0x60042");
    edit(L"F", L"b.wav");
    edit(L"C", L"D\\a;D\\b");
    edit(L"T", L"new");
    for (LPCWSTR key : { L"R", L"NewRange" })
    {
        _CObjectExPtr<CAgentSetting> clone = Setting(key).Clone();
        clone->SetRangeValue(-2, 9);
        Setting(key).TakeEdit(*clone);
    }
    _CObjectExPtr<CAgentSetting> list = Setting(L"L").Clone();
    list->DeleteListValue(0);
    list->SetValueText(L"TWO", TRUE, 1);
    list->AddListValue(L"four");
    Setting(L"L").MergeListEdit(*list);
    EXPECT_EQ("two three four", Display(L"L")) << "a change of letter case alone is no edit";
    for (auto& [index, setting] : m_settings)
        EXPECT_EQ(setting->GetKey() != L"LogLevel", setting->HasChanges()) << Utf8(setting->GetKey());

    ASSERT_EQ(S_OK, CAgentSetting::WriteChanges(m_settings, *m_target));
    EXPECT_FALSE(CAgentSetting::AnyChanges(m_settings));
    ASSERT_EQ(S_OK, m_target->Save());

    // The file holds what the agent will read.
    _CObjectExPtr<CConfigurationEx> file = Reread();
    EXPECT_FALSE(file->GetBool(L"B"));
    EXPECT_EQ(7, file->GetNumber(L"N", 0));
    EXPECT_EQ(0x60042, file->GetNumber(L"K", 0));
    CStringEx text;
    file->GetValue(L"F", text);
    EXPECT_EQ(L"b.wav", text.Str());
    file->GetValue(L"C", text);
    EXPECT_EQ(L"D\\a;D\\b", text.Str());
    file->GetValue(L"T", text);
    EXPECT_EQ(L"new", text.Str());
    std::vector<CStringEx> values;
    ASSERT_TRUE(file->GetList(L"L", values));
    ASSERT_EQ(3u, values.size());
    EXPECT_EQ(L"four", values[2].Str());
    // Ranges are the entry's two bound children and nothing else.
    for (LPCWSTR key : { L"R", L"NewRange" })
    {
        long low = 0;
        long high = 0;
        EXPECT_TRUE(file->GetEntryNumber(key, file->GetLowName(), low, 0)) << Utf8(key);
        EXPECT_TRUE(file->GetEntryNumber(key, file->GetHighName(), high, 0)) << Utf8(key);
        EXPECT_EQ(-2, low);
        EXPECT_EQ(9, high);
        EXPECT_EQ(0, ValueElementCount(*file, key)) << Utf8(key);
    }

    // Loaded again, every setting shows its edited value and nothing counts as changed.
    std::vector<std::string> shown;
    for (auto& [index, setting] : m_settings)
        shown.push_back(Display(setting->GetKey()));
    CAgentSetting::LoadValues(m_settings, *file);
    EXPECT_FALSE(CAgentSetting::AnyChanges(m_settings));
    size_t i = 0;
    for (auto& [index, setting] : m_settings)
        EXPECT_EQ(shown[i++], Display(setting->GetKey()));
    EXPECT_EQ("No", Display(L"B"));
    EXPECT_EQ("Alt+Ctrl+B", Display(L"K"));
    EXPECT_EQ("-2 to 9", Display(L"R"));
}

namespace
{
// An edit that cannot reach the file.
struct WriteFailureCase
{
    const char* name;
    std::string definition;
    bool withSection;
    HRESULT expected;
};

std::ostream& operator<<(std::ostream& out, const WriteFailureCase& c)
{
    return out << c.name;
}

class SettingWriteFailure : public CConfigModelTest, public ::testing::WithParamInterface<WriteFailureCase>
{
};
}

TEST_P(SettingWriteFailure, AWriteThatFailsOrWritesNothingKeepsEveryEditUnsaved)
{
    const WriteFailureCase& c = GetParam();
    Load(Def("Text", "", "First") + c.definition, "", c.withSection);
    CAgentSetting& first = m_settings[1]->GetKey() == L"First" ? *m_settings[1] : *m_settings[2];
    CAgentSetting& failing = *m_settings[2];
    first.SetValueText(L"changed", TRUE, 0);
    if (failing.GetType() == EAgentSettingType::Range)
        failing.SetRangeValue(2, 3);
    else if (failing.GetType() == EAgentSettingType::List)
        failing.AddListValue(L"added");
    else
        failing.SetValueText(L"edited", TRUE, 0);
    CStringEx before;
    failing.GetDisplayText(before);

    EXPECT_EQ(c.expected, CAgentSetting::WriteChanges(m_settings, *m_target));

    // Nothing was committed: the edits still show, as changed, and a second try fails alike.
    EXPECT_TRUE(first.HasChanges());
    EXPECT_TRUE(failing.HasChanges());
    CStringEx after;
    failing.GetDisplayText(after);
    EXPECT_EQ(before.Str(), after.Str());
    EXPECT_EQ(c.expected, CAgentSetting::WriteChanges(m_settings, *m_target));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SettingWriteFailure,
    ::testing::Values(
        WriteFailureCase{ "TextWithoutSection", Def("Text", "", "Second"), false, HRESULT_FROM_WIN32(ERROR_NOT_FOUND) },
        WriteFailureCase{ "ListWithoutSection", Def("List", "", "Second"), false, HRESULT_FROM_WIN32(ERROR_NOT_FOUND) },
        WriteFailureCase{ "RangeWithoutSection", Def("Range", kRangeDef, "Second"), false, HRESULT_FROM_WIN32(ERROR_NOT_FOUND) },
        WriteFailureCase{ "TextWithoutKey", "<add><type>Text</type></add>", true, HRESULT_FROM_WIN32(ERROR_NOT_FOUND) },
        WriteFailureCase{ "KeyWithQuote", Def("Text", "", "it's"), true, HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER) }),
    [](const ::testing::TestParamInfo<WriteFailureCase>& info) { return std::string(info.param.name); });

// A list whose every value was deleted is saved as an entry without values, so the file
// says what the editor showed when it saved; a required list cannot get there, the list
// editor refuses to close empty.
TEST_F(CConfigModelTest, AListWhoseEveryValueWasDeletedIsSavedEmpty)
{
    Load(Def("List", "<default>d</default>", "L"), Entry(Value("a") + Value("b"), "L"));
    _CObjectExPtr<CAgentSetting> clone = Setting(L"L").Clone();
    clone->DeleteListValue(0);
    clone->DeleteListValue(1);
    Setting(L"L").MergeListEdit(*clone);
    EXPECT_EQ("", Display(L"L"));
    ASSERT_TRUE(Setting(L"L").HasChanges());

    ASSERT_EQ(S_OK, CAgentSetting::WriteChanges(m_settings, *m_target));
    ASSERT_EQ(S_OK, m_target->Save());
    _CObjectExPtr<CConfigurationEx> file = Reread();
    std::vector<CStringEx> values{ L"stale" };
    EXPECT_TRUE(file->GetList(L"L", values)) << "the entry stays, stating an empty list";
    EXPECT_TRUE(values.empty());

    CAgentSetting::LoadValues(m_settings, *file);
    EXPECT_EQ("", Display(L"L"));
    EXPECT_FALSE(Setting(L"L").HasChanges());
}

TEST_F(CConfigModelTest, ListEditsMergeAddedReplacedAndDeletedValues)
{
    Load(Def("List", "", "L"), Entry(Value("a") + Value("b") + Value("c"), "L"));
    CAgentSetting& setting = Setting(L"L");

    // Added and deleted again in the editor is no change at all.
    _CObjectExPtr<CAgentSetting> clone = setting.Clone();
    const int index = clone->AddListValue(L"x");
    EXPECT_EQ(3, index);
    EXPECT_TRUE(clone->HasChanges());
    clone->DeleteListValue(index);
    EXPECT_FALSE(clone->HasChanges());
    setting.MergeListEdit(*clone);
    EXPECT_FALSE(setting.HasChanges());
    EXPECT_EQ("a b c", Display(L"L"));

    // A value added in one edit can be replaced in the next, before any save.
    clone = setting.Clone();
    clone->AddListValue(L"d");
    setting.MergeListEdit(*clone);
    clone = setting.Clone();
    clone->SetValueText(L"e", TRUE, 3);
    clone->DeleteListValue(1);
    setting.MergeListEdit(*clone);
    EXPECT_EQ("a c e", Display(L"L"));
    EXPECT_TRUE(setting.HasChanges());

    // The kept copy of a failed save puts the edits back exactly.
    _CObjectExPtr<CAgentSetting> kept = setting.Clone();
    ASSERT_EQ(S_OK, CAgentSetting::WriteChanges(m_settings, *m_target));
    EXPECT_FALSE(setting.HasChanges());
    EXPECT_EQ(3, setting.GetValueCount()) << "deleted values are gone once committed";
    setting.RestoreValues(*kept);
    EXPECT_TRUE(setting.HasChanges());
    EXPECT_EQ("a c e", Display(L"L"));

    // A clone is a copy: editing it leaves the setting alone.
    clone = setting.Clone();
    clone->SetValueText(L"zzz", TRUE, 0);
    EXPECT_EQ(L"a", setting.GetValueText(0).Str());
    EXPECT_EQ(-1, Setting(L"LogLevel").AddListValue(L"x")) << "only a list takes added values";
}

// A required entry missing from the file goes into the document at load time and shows as
// changed; the file itself is untouched until a save.
TEST_F(CConfigModelTest, ARequiredEntryMissingFromTheFileIsWrittenIntoTheDocumentOnly)
{
    Load(Def("Text", "<default>red</default><required>1</required>", "T") +
             Def("List", "<default>a</default><default>b</default><required>1</required>", "L"),
         Entry(Value("x"), "Other"));
    const std::string fileBefore = ReadBytes(m_targetPath);
    CStringEx text;
    EXPECT_TRUE(m_target->GetValue(L"T", text));
    EXPECT_EQ(L"red", text.Str());
    std::vector<CStringEx> values;
    EXPECT_TRUE(m_target->GetList(L"L", values));
    EXPECT_EQ(2u, values.size());
    EXPECT_TRUE(Setting(L"T").HasChanges());
    EXPECT_TRUE(Setting(L"L").HasChanges());
    EXPECT_EQ(fileBefore, ReadBytes(m_targetPath));

    // Editing back to the loaded text still counts as a change: the file lacks the entry.
    Setting(L"T").SetValueText(L"red", TRUE, 0);
    EXPECT_TRUE(Setting(L"T").HasChanges());
}
