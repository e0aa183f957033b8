#include "ConfigTestSupport.h"
#include "common/CConfigValue.h"
#include "common/CConfigurationEx.h"
#include "resources/KVIdsConfig.h"
#include <utility>

// A configuration file in the test's own folder, loaded by full path.
class Configuration : public CTempFolderTest
{
protected:
    void Open(const std::string& entries)
    {
        m_path = PathOf(L"app.exe.config");
        WriteBytes(m_path, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<configuration><appSettings>" + entries +
                               "</appSettings></configuration>");
        ASSERT_EQ(S_OK, m_config.LoadFile(m_path));
    }

    std::vector<std::pair<std::string, std::string>> Enumerate()
    {
        std::vector<std::pair<std::string, std::string>> values;
        _CObjectExPtr<IObjectExEnumerator> walk = m_config.GetEnumerator();
        if (!walk)
            return values;
        for (; !walk->IsDone(); walk->Next())
        {
            CObjectExQIPtr<CConfigValue> value(walk->Current());
            if (value)
                values.emplace_back(Utf8(value->GetKey()), Utf8(value->GetValue()));
        }
        return values;
    }

    CStringEx m_path;
    CConfigurationEx m_config;
};

struct NumberCase
{
    const char* stored;
    long expected;
};

class ConfigNumber : public Configuration, public ::testing::WithParamInterface<NumberCase>
{
};

struct BoolCase
{
    const char* stored;
    BOOL expected;
};

class ConfigBool : public Configuration, public ::testing::WithParamInterface<BoolCase>
{
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_P(ConfigNumber, NumbersReadWithTheirPrefixAndDefaultForEmpty)
{
    Open(std::string("<add key=\"n\"><value>") + GetParam().stored + "</value></add>");
    EXPECT_EQ(GetParam().expected, m_config.GetNumber(L"n", 77)) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(Values, ConfigNumber,
                         ::testing::Values(NumberCase{"0x10", 16}, NumberCase{"010", 8}, NumberCase{"10", 10},
                                           NumberCase{"", 77}, NumberCase{"ten", 0}, NumberCase{"-5", -5},
                                           NumberCase{"12abc", 12}, NumberCase{"   ", 0}));

TEST_P(ConfigBool, OnlyTheNumberOneIsTrue)
{
    Open(std::string("<add key=\"b\"><value>") + GetParam().stored + "</value></add>");
    EXPECT_EQ(GetParam().expected, m_config.GetBool(L"b")) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(Values, ConfigBool,
                         ::testing::Values(BoolCase{"1", TRUE}, BoolCase{"0x1", TRUE}, BoolCase{"2", FALSE},
                                           BoolCase{"true", FALSE}, BoolCase{"", FALSE}, BoolCase{"0", FALSE}));

TEST_F(Configuration, MissingEntriesGiveTheMissingAnswers)
{
    Open("<add key=\"present\"><value>v</value></add><add key=\"novalue\"/>");
    CStringEx text(L"stale");
    std::vector<CStringEx> list{CStringEx(L"stale")};
    EXPECT_FALSE(m_config.GetValue(L"absent", text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(5, m_config.GetNumber(L"absent", 5));
    EXPECT_FALSE(m_config.GetBool(L"absent"));
    EXPECT_FALSE(m_config.GetList(L"absent", list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(m_config.GetValue(nullptr, text));

    // An entry without a value element exists, with an empty value.
    EXPECT_TRUE(m_config.GetValue(L"novalue", text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(5, m_config.GetNumber(L"novalue", 5));

    // A key the query cannot express simply is not there.
    EXPECT_FALSE(m_config.GetValue(L"it's", text));
    // Keys may also be given by string ID; this ID names no key of this file.
    EXPECT_FALSE(m_config.GetValue(IDS_CFG_VALUE_ELEMENT, text));
}

TEST_F(Configuration, AListWithAnEmptyValueReadsThreeWays)
{
    Open("<add key=\"first\"><value>1</value></add>"
         "<add key=\"list\"><value>a</value><value></value><value>c</value></add>"
         "<add><value>keyless</value></add>"
         "<add key=\"none\"/>");
    std::vector<CStringEx> list;
    ASSERT_TRUE(m_config.GetList(L"list", list));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ("a", Utf8(list[0]));
    EXPECT_EQ("c", Utf8(list[1]));

    CStringEx text;
    EXPECT_TRUE(m_config.GetValue(L"list", text));
    EXPECT_EQ("a", Utf8(text));

    const Pairs expected{{"first", "1"}, {"list", "a"}, {"list", ""}, {"list", "c"}, {"", "keyless"}, {"none", ""}};
    EXPECT_EQ(expected, Enumerate());
}

TEST_F(Configuration, TheEnumeratorStartsOverAndUpdatesItsValueInPlace)
{
    Open("<add key=\"x\"><value>1</value><value>2</value></add><add key=\"y\"><value>3</value></add>");
    _CObjectExPtr<IObjectExEnumerator> walk = m_config.GetEnumerator();
    ASSERT_TRUE(walk);
    CObjectExQIPtr<CConfigValue> first(walk->Current());
    ASSERT_TRUE(first);
    walk->Next();
    walk->Next();
    EXPECT_EQ("y", Utf8(first->GetKey()));
    EXPECT_EQ("3", Utf8(first->GetValue()));
    walk->Next();
    EXPECT_TRUE(walk->IsDone());
    EXPECT_FALSE(walk->Current());
    walk->First();
    ASSERT_FALSE(walk->IsDone());
    CObjectExQIPtr<CConfigValue> again(walk->Current());
    EXPECT_EQ("1", Utf8(again->GetValue()));
}

TEST_F(Configuration, RangeBoundsReadFromTheEntrysChildren)
{
    Open("<add key=\"r\"><value>5</value><min>0x2</min><max>600</max></add><add key=\"half\"><min>1</min></add>");
    long low = 0, high = 0;
    EXPECT_TRUE(m_config.GetEntryNumber(L"r", m_config.GetLowName(), low, -1));
    EXPECT_TRUE(m_config.GetEntryNumber(L"r", m_config.GetHighName(), high, -1));
    EXPECT_EQ(2, low);
    EXPECT_EQ(600, high);
    EXPECT_FALSE(m_config.GetEntryNumber(L"half", m_config.GetHighName(), high, -1));
    EXPECT_EQ(-1, high);
    EXPECT_FALSE(m_config.GetEntryNumber(L"absent", m_config.GetLowName(), low, -7));
    EXPECT_EQ(-7, low);
}

TEST_F(Configuration, SetValueChangesAddsAndCompletesEntries)
{
    Open("<add key=\"a\"><value>1</value><value>2</value></add><add key=\"bare\"/>");
    EXPECT_EQ(S_OK, m_config.SetValue(L"a", L"one"));
    EXPECT_EQ(S_OK, m_config.SetValue(L"bare", L"filled"));
    EXPECT_EQ(S_OK, m_config.SetValue(L"new", L"added"));
    EXPECT_EQ(S_FALSE, m_config.SetValue(L"", L"ignored"));
    EXPECT_EQ(S_FALSE, m_config.SetValue(nullptr, L"ignored"));

    const Pairs expected{{"a", "one"}, {"a", "2"}, {"bare", "filled"}, {"new", "added"}};
    EXPECT_EQ(expected, Enumerate());
}

TEST_F(Configuration, AKeyWithAQuoteIsRefusedInsteadOfAddingAnUnreachableEntry)
{
    Open("<add key=\"a\"><value>1</value></add>");
    const CLogMark mark;
    EXPECT_TRUE(FAILED(m_config.SetValue(L"it's", L"x")));
    EXPECT_TRUE(FAILED(m_config.SetList(L"it's", {CStringEx(L"x")})));
    const Pairs expected{{"a", "1"}};
    EXPECT_EQ(expected, Enumerate());
    EXPECT_NE(std::string::npos, mark.NewText().find("Failed to write 'it's'")) << mark.NewText();
}

TEST_F(Configuration, AKeyWithQuotesNeverActsAsPartOfTheQuery)
{
    Open("<add key=\"a\"><value>1</value></add><add key=\"b\"><value>2</value></add>");
    const wchar_t* const crafted[] = {L"x' or '1'='1", L"x' or @key='b", L"x'] | //add[@key='b"};
    for (const wchar_t* key : crafted)
    {
        CStringEx text;
        std::vector<CStringEx> list;
        EXPECT_FALSE(m_config.GetValue(key, text)) << Utf8(key);
        EXPECT_TRUE(text.IsEmpty()) << Utf8(key);
        EXPECT_EQ(7, m_config.GetNumber(key, 7)) << Utf8(key);
        EXPECT_FALSE(m_config.GetList(key, list)) << Utf8(key);
        EXPECT_TRUE(FAILED(m_config.SetValue(key, L"overwritten"))) << Utf8(key);
        EXPECT_TRUE(FAILED(m_config.SetList(key, {CStringEx(L"overwritten")}))) << Utf8(key);
    }
    const Pairs expected{{"a", "1"}, {"b", "2"}};
    EXPECT_EQ(expected, Enumerate());
}

TEST_F(Configuration, SetListReusesAddsAndRemovesValueElements)
{
    Open("<add key=\"four\"><value>1</value><value>2</value><value>3</value><value>4</value></add>"
         "<add key=\"one\"><value>1</value></add>");
    EXPECT_EQ(S_OK, m_config.SetList(L"four", {CStringEx(L"x"), CStringEx(L"y")}));
    EXPECT_EQ(S_OK, m_config.SetList(L"one", {CStringEx(L"p"), CStringEx(L""), CStringEx(L"r")}));
    EXPECT_EQ(S_OK, m_config.SetList(L"fresh", {CStringEx(L"f")}));
    EXPECT_EQ(S_FALSE, m_config.SetList(L"one", {}));
    EXPECT_EQ(S_FALSE, m_config.SetList(L"", {CStringEx(L"z")}));

    const Pairs expected{{"four", "x"}, {"four", "y"}, {"one", "p"}, {"one", ""}, {"one", "r"}, {"fresh", "f"}};
    EXPECT_EQ(expected, Enumerate());

    // What was set is also what the file holds after a save.
    ASSERT_EQ(S_OK, m_config.Save());
    CConfigurationEx reread;
    ASSERT_EQ(S_OK, reread.LoadFile(m_path));
    std::vector<CStringEx> list;
    ASSERT_TRUE(reread.GetList(L"four", list));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ("y", Utf8(list[1]));
}

TEST_F(Configuration, ANewConfigurationFromTheTemplateIsSavedWhereNoFileWas)
{
    const CStringEx path = PathOf(L"new.exe.config");
    ASSERT_EQ(S_OK, m_config.CreateFromTemplate(path));
    EXPECT_TRUE(m_config.IsLoaded());
    EXPECT_EQ(S_OK, m_config.SetValue(L"LogLevel", L"4"));
    ASSERT_EQ(S_OK, m_config.Save());

    CConfigurationEx reread;
    ASSERT_EQ(S_OK, reread.LoadFile(path));
    EXPECT_EQ(4, reread.GetNumber(L"LogLevel", 0));
    const std::vector<std::wstring> files{L"new.exe.config"};
    EXPECT_EQ(files, FilesIn(m_folder));
}

TEST_F(Configuration, GetXmlGivesTheIndentedTextWithEveryValue)
{
    Open("<add key=\"a\"><value>  spaced  </value></add><!-- note --><add key=\"b\"><value/></add>");
    CStringEx xml;
    ASSERT_EQ(S_OK, m_config.GetXml(xml));
    EXPECT_NE(-1, xml.Find(L"<!-- note -->")) << Utf8(xml);
    EXPECT_NE(-1, xml.Find(L"\n\t\t<add key=\"b\">")) << Utf8(xml);

    CConfigurationEx copy;
    ASSERT_EQ(S_OK, copy.LoadFromText(PathOf(L"copy.config"), xml));
    CStringEx text;
    ASSERT_TRUE(copy.GetValue(L"a", text));
    EXPECT_EQ("  spaced  ", Utf8(text));

    CConfigurationEx empty;
    EXPECT_TRUE(FAILED(empty.GetXml(xml)));
    EXPECT_TRUE(xml.IsEmpty());
}

TEST_F(Configuration, TextThatDoesNotParseLeavesTheConfigurationNotLoaded)
{
    Open("<add key=\"a\"><value>1</value></add>");
    EXPECT_TRUE(FAILED(m_config.LoadFromText(PathOf(L"x.config"), L"<configuration><appSettings>")));
    EXPECT_FALSE(m_config.IsLoaded());
    EXPECT_FALSE(m_config.HasDocument());
    CStringEx text;
    EXPECT_FALSE(m_config.GetValue(L"a", text));
    EXPECT_FALSE(m_config.GetEnumerator());
    EXPECT_EQ(S_OK, m_config.Save());
    EXPECT_FALSE(FileExists(PathOf(L"x.config")));

    // The same for a file that does not parse, after a good one was loaded.
    Open("<add key=\"a\"><value>1</value></add>");
    WriteBytes(PathOf(L"broken.config"), "<configuration>");
    EXPECT_TRUE(FAILED(m_config.LoadFile(PathOf(L"broken.config"))));
    EXPECT_FALSE(m_config.HasDocument());
    CStringEx xml;
    EXPECT_TRUE(FAILED(m_config.GetXml(xml)));
    EXPECT_FALSE(m_config.GetValue(L"a", text));
}

TEST_F(Configuration, AVeryLongValueSurvivesASave)
{
    Open("<add key=\"a\"><value>1</value></add>");
    std::wstring longValue(1 << 20, L'v');
    longValue[0] = L' ';
    longValue[100] = L'<';
    longValue[200] = L'&';
    ASSERT_EQ(S_OK, m_config.SetValue(L"long", longValue.c_str()));
    ASSERT_EQ(S_OK, m_config.Save());

    CConfigurationEx reread;
    ASSERT_EQ(S_OK, reread.LoadFile(m_path));
    CStringEx text;
    ASSERT_TRUE(reread.GetValue(L"long", text));
    EXPECT_TRUE(text.Str() == longValue) << text.GetLength();
}

struct BadFileCase
{
    const char* name;
    std::string bytes;
    bool parses;
};

class ConfigBadFile : public Configuration, public ::testing::WithParamInterface<BadFileCase>
{
};

TEST_P(ConfigBadFile, GivesMissingAnswersAndNeverChangesTheFile)
{
    m_path = PathOf(L"bad.exe.config");
    WriteBytes(m_path, GetParam().bytes);
    const CLogMark mark;
    const HRESULT hr = m_config.LoadFile(m_path);
    EXPECT_EQ(GetParam().parses, SUCCEEDED(hr)) << std::hex << hr;
    EXPECT_EQ(GetParam().parses, !!m_config.HasDocument());

    CStringEx text;
    std::vector<CStringEx> list;
    EXPECT_FALSE(m_config.GetValue(L"a", text));
    EXPECT_EQ(3, m_config.GetNumber(L"a", 3));
    EXPECT_FALSE(m_config.GetList(L"a", list));
    EXPECT_NE(S_OK, m_config.SetValue(L"a", L"changed"));
    EXPECT_NE(S_OK, m_config.SetList(L"a", {CStringEx(L"changed")}));
    if (!GetParam().parses)
    {
        EXPECT_EQ(S_OK, m_config.Save());
    }
    EXPECT_EQ(GetParam().bytes, ReadBytes(m_path));
    // The reason is in the log: the parse error, or the write that found no section.
    const std::string log = mark.NewText();
    EXPECT_NE(std::string::npos, log.find(GetParam().parses ? "has no section" : "XML parse error")) << log;
    EXPECT_NE(std::string::npos, log.find(Utf8(m_path))) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigBadFile,
    ::testing::Values(BadFileCase{"ZeroBytes", "", false},
                      BadFileCase{"WhiteSpaceOnly", "  \r\n", false},
                      BadFileCase{"Malformed", "<configuration><appSettings><add key=\"a\"><value>1</value></add>", false},
                      BadFileCase{"NotXml", "LogLevel=4\r\n", false},
                      BadFileCase{"Binary", std::string("\x00\xff\xfe\x01<a>", 7), false},
                      BadFileCase{"DeclarationOnly", "<?xml version=\"1.0\"?>", false},
                      BadFileCase{"RootWithoutSection", "<configuration><add key=\"a\"><value>1</value></add></configuration>", true}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

TEST_F(Configuration, LookupsFollowAddedEntriesAndReplacedDocuments)
{
    Open("<add key=\"dup\"><value>first</value></add><add key=\"dup\"><value>second</value></add>"
         "<add key=\"\"><value>emptykey</value></add>");
    CStringEx text;
    // The first of two entries with one key answers, as the entry query selects it.
    ASSERT_TRUE(m_config.GetValue(L"dup", text));
    EXPECT_EQ("first", Utf8(text));
    ASSERT_TRUE(m_config.GetValue(L"", text));
    EXPECT_EQ("emptykey", Utf8(text));

    EXPECT_FALSE(m_config.GetValue(L"later", text));
    ASSERT_EQ(S_OK, m_config.SetValue(L"later", L"added"));
    ASSERT_TRUE(m_config.GetValue(L"later", text));
    EXPECT_EQ("added", Utf8(text));
    ASSERT_EQ(S_OK, m_config.SetValue(L"dup", L"changed"));
    ASSERT_TRUE(m_config.GetValue(L"dup", text));
    EXPECT_EQ("changed", Utf8(text));

    ASSERT_EQ(S_OK, m_config.Save());
    ASSERT_TRUE(m_config.GetValue(L"later", text));
    EXPECT_EQ("added", Utf8(text));
    ASSERT_EQ(S_OK, m_config.SetValue(L"later", L"after save"));
    ASSERT_TRUE(m_config.GetValue(L"later", text));
    EXPECT_EQ("after save", Utf8(text));
    CConfigurationEx reread;
    ASSERT_EQ(S_OK, reread.LoadFile(m_path));
    ASSERT_TRUE(reread.GetValue(L"later", text));
    EXPECT_EQ("added", Utf8(text));

    ASSERT_EQ(S_OK, m_config.LoadFromText(m_path, L"<configuration><appSettings><add key=\"other\"><value>o</value>"
                                                  L"</add></appSettings></configuration>"));
    EXPECT_FALSE(m_config.GetValue(L"later", text));
    EXPECT_TRUE(m_config.GetValue(L"other", text));
}

namespace
{
// A configuration whose key attribute name could not be loaded: the failure text stands in
// its place, and no XML attribute may bear that name.
class CConfigWithoutKeyName : public CConfigurationEx
{
public:
    CConfigWithoutKeyName() { m_keyAttributeName = L"String (476) failed to load."; }
};

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}
}

TEST_F(Configuration, AnEntryWhoseKeyCannotBeSetIsNotLeftHalfMadeNorSaved)
{
    Open("<add key=\"a\"><value>1</value></add>");
    CConfigWithoutKeyName config;
    ASSERT_EQ(S_OK, config.LoadFile(m_path));
    EXPECT_TRUE(FAILED(config.SetValue(L"new", L"v")));
    EXPECT_TRUE(FAILED(config.SetList(L"list", {CStringEx(L"x"), CStringEx(L"y")})));

    CStringEx xml;
    ASSERT_EQ(S_OK, config.GetXml(xml));
    EXPECT_EQ(1u, CountOf(Utf8(xml), "<add")) << Utf8(xml);
    ASSERT_EQ(S_OK, config.Save());
    const std::string saved = ReadBytes(m_path);
    EXPECT_EQ(1u, CountOf(saved, "<add")) << saved;
    EXPECT_EQ(std::string::npos, saved.find("failed to load")) << saved;
}
