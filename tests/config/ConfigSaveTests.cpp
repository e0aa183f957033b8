#include "ConfigTestSupport.h"
#include "common/CConfigurationEx.h"
#include "common/CUniqueAnyEx.h"
#include "common/CXMLDOMDocumentEx.h"

const char kMixedFile[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<configuration>\r\n"
    "  <appSettings>\r\n"
    "    <!-- kept as written -->\r\n"
    "    <add key=\"plain\"><value>15</value></add>\r\n"
    "    <add key=\"padded\"><value>  two spaces  </value></add>\r\n"
    "    <add key=\"blank\"><value>   </value></add>\r\n"
    "    <add key=\"empty\"><value/></add>\r\n"
    "    <add key=\"markup\"><value><![CDATA[a<b & c]]></value></add>\r\n"
    "    <add key=\"escaped\" note=\"x &amp; y\"><value>&lt;tag&gt;</value></add>\r\n"
    "    <?editor keep?>\r\n"
    "  </appSettings>\r\n"
    "</configuration>\r\n";

class ConfigSave : public CTempFolderTest
{
protected:
    void SetUp() override
    {
        CTempFolderTest::SetUp();
        m_path = PathOf(L"app.exe.config");
    }

    // Every value and comment of the mixed file, as the configuration reads them.
    void ExpectMixedContent(CConfigurationEx& config)
    {
        const std::pair<const wchar_t*, const char*> values[] = {
            {L"plain", "15"},   {L"padded", "  two spaces  "}, {L"blank", "   "},
            {L"empty", ""},     {L"markup", "a<b & c"},        {L"escaped", "<tag>"}};
        for (const auto& value : values)
        {
            CStringEx text;
            EXPECT_TRUE(config.GetValue(value.first, text)) << Utf8(value.first);
            EXPECT_EQ(value.second, Utf8(text)) << Utf8(value.first);
        }
        const std::string bytes = ReadBytes(config.GetPath());
        EXPECT_NE(std::string::npos, bytes.find("<!-- kept as written -->")) << bytes;
        EXPECT_NE(std::string::npos, bytes.find("<value/>")) << bytes;
        EXPECT_NE(std::string::npos, bytes.find("<?editor keep?>")) << bytes;
        EXPECT_NE(std::string::npos, bytes.find("note=\"x &amp; y\"")) << bytes;
    }

    CStringEx m_path;
};

TEST_F(ConfigSave, TenSavesKeepEveryValueCommentAndEmptyElement)
{
    WriteBytes(m_path, kMixedFile);
    std::string firstSave;
    for (int save = 1; save <= 10; ++save)
    {
        CConfigurationEx config;
        ASSERT_EQ(S_OK, config.LoadFile(m_path)) << "save " << save;
        ASSERT_EQ(S_OK, config.Save()) << "save " << save;
        ExpectMixedContent(config);
        // The object goes on with what it wrote.
        CStringEx text;
        EXPECT_TRUE(config.GetValue(L"padded", text));
        EXPECT_EQ("  two spaces  ", Utf8(text));

        CConfigurationEx reread;
        ASSERT_EQ(S_OK, reread.LoadFile(m_path));
        ExpectMixedContent(reread);
        if (save == 1)
            firstSave = ReadBytes(m_path);
        else
            EXPECT_EQ(firstSave, ReadBytes(m_path)) << "save " << save;
        if (HasFailure())
            break;
    }
    const std::vector<std::wstring> files{L"app.exe.config"};
    EXPECT_EQ(files, FilesIn(m_folder));
}

TEST_F(ConfigSave, AFileWithoutTheSectionIsRewrittenWithTheSameContentIndented)
{
    WriteBytes(m_path, "<configuration><other><add key=\"a\"><value>1</value></add></other></configuration>");
    CConfigurationEx config;
    ASSERT_EQ(S_OK, config.LoadFile(m_path));
    EXPECT_EQ(S_FALSE, config.SetValue(L"a", L"2"));
    EXPECT_EQ(S_FALSE, config.SetList(L"a", {CStringEx(L"2")}));
    ASSERT_EQ(S_OK, config.Save());

    const std::string bytes = ReadBytes(m_path);
    EXPECT_NE(std::string::npos, bytes.find("\n\t<other>")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("\n\t\t<add key=\"a\">")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("<value>1</value>")) << bytes;

    CXMLDOMDocumentEx before, after;
    ASSERT_EQ(S_OK, before.LoadXML(L"<configuration><other><add key=\"a\"><value>1</value></add></other></configuration>"));
    ASSERT_EQ(S_OK, after.Load(m_path));
    EXPECT_EQ(before.GetContentSignature(), after.GetContentSignature());
}

TEST_F(ConfigSave, ChangesReachTheFileAndTheSavedFileLoadsAgain)
{
    WriteBytes(m_path, kMixedFile);
    CConfigurationEx config;
    ASSERT_EQ(S_OK, config.LoadFile(m_path));
    ASSERT_EQ(S_OK, config.SetValue(L"plain", L"16"));
    ASSERT_EQ(S_OK, config.SetValue(L"added", L" new "));
    ASSERT_EQ(S_OK, config.Save());

    CConfigurationEx reread;
    ASSERT_EQ(S_OK, reread.LoadFile(m_path));
    EXPECT_EQ(16, reread.GetNumber(L"plain", 0));
    CStringEx text;
    EXPECT_TRUE(reread.GetValue(L"added", text));
    EXPECT_EQ(" new ", Utf8(text));
    EXPECT_TRUE(reread.GetValue(L"padded", text));
    EXPECT_EQ("  two spaces  ", Utf8(text));
}

enum class Obstacle
{
    ReadOnlyFile,
    FileHeldOpen,
    MissingFolder,
    ReplaceFailsHalfWay,
};

// A replacement whose last step fails: the old file has already left its name (for the
// backup name when there is one, otherwise out of the way for good, as Wine's does), and
// the new file is not moved in.
BOOL WINAPI ReplaceFailingHalfWay(LPCWSTR replaced, LPCWSTR, LPCWSTR backup, DWORD, LPVOID, LPVOID)
{
    if (backup)
        MoveFileExW(replaced, backup, MOVEFILE_REPLACE_EXISTING);
    else
        DeleteFileW(replaced);
    SetLastError(backup ? ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 : ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    return FALSE;
}

// Puts the real replacement back whatever the test's outcome.
struct ReplaceFileRestorer
{
    ~ReplaceFileRestorer() { CConfigurationEx::SetReplaceFile(nullptr); }
};

class ConfigFailedSave : public ConfigSave, public ::testing::WithParamInterface<Obstacle>
{
};

TEST_P(ConfigFailedSave, LeavesTheOldFileByteForByteAndNoTemporaryFile)
{
    WriteBytes(m_path, kMixedFile);
    CConfigurationEx config;
    ASSERT_EQ(S_OK, config.LoadFile(m_path));
    ASSERT_EQ(S_OK, config.SetValue(L"plain", L"changed"));

    CFileHandleEx holder;
    ReplaceFileRestorer restorer;
    switch (GetParam())
    {
    case Obstacle::ReplaceFailsHalfWay:
        CConfigurationEx::SetReplaceFile(&ReplaceFailingHalfWay);
        break;
    case Obstacle::ReadOnlyFile:
        ASSERT_TRUE(SetFileAttributesW(m_path, FILE_ATTRIBUTE_READONLY));
        break;
    case Obstacle::FileHeldOpen:
        holder.Reset(CreateFileW(m_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        break;
    case Obstacle::MissingFolder:
    {
        CStringEx xml;
        ASSERT_EQ(S_OK, config.GetXml(xml));
        ASSERT_EQ(S_OK, config.LoadFromText(PathOf(L"missing\\app.exe.config"), xml));
        break;
    }
    }

    const CLogMark mark;
    EXPECT_TRUE(FAILED(config.Save()));
    EXPECT_NE(std::string::npos, mark.NewText().find("Failed to save the configuration file")) << mark.NewText();
    CConfigurationEx::SetReplaceFile(nullptr);
    holder.Reset();
    SetFileAttributesW(m_path, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(std::string(kMixedFile), ReadBytes(m_path));
    const std::vector<std::wstring> files{L"app.exe.config"};
    EXPECT_EQ(files, FilesIn(m_folder));

    // The change is still there to be saved once the obstacle is gone.
    CStringEx text;
    EXPECT_TRUE(config.GetValue(L"plain", text));
    EXPECT_EQ("changed", Utf8(text));
    if (GetParam() != Obstacle::MissingFolder)
    {
        EXPECT_EQ(S_OK, config.Save());
        CConfigurationEx reread;
        ASSERT_EQ(S_OK, reread.LoadFile(m_path));
        EXPECT_TRUE(reread.GetValue(L"plain", text));
        EXPECT_EQ("changed", Utf8(text));
    }
}

INSTANTIATE_TEST_SUITE_P(Obstacles, ConfigFailedSave,
                         ::testing::Values(Obstacle::ReadOnlyFile, Obstacle::FileHeldOpen, Obstacle::MissingFolder,
                                           Obstacle::ReplaceFailsHalfWay),
                         [](const ::testing::TestParamInfo<Obstacle>& info) {
                             switch (info.param)
                             {
                             case Obstacle::ReadOnlyFile: return std::string("ReadOnlyFile");
                             case Obstacle::FileHeldOpen: return std::string("FileHeldOpen");
                             case Obstacle::ReplaceFailsHalfWay: return std::string("ReplaceFailsHalfWay");
                             default: return std::string("MissingFolder");
                             }
                         });

TEST_F(ConfigSave, ADocumentWithoutValuesKeepsItsStructureThroughTheWriter)
{
    // Nothing here that a writer could alter: the SAX writer's own indentation is kept.
    CConfigurationEx config;
    ASSERT_EQ(S_OK, config.CreateFromTemplate(m_path));
    const CLogMark mark;
    ASSERT_EQ(S_OK, config.Save());
    ASSERT_EQ(S_OK, config.Save());
    EXPECT_EQ(std::string::npos, mark.NewText().find("would change values")) << mark.NewText();

    CConfigurationEx reread;
    ASSERT_EQ(S_OK, reread.LoadFile(m_path));
    ASSERT_EQ(S_OK, reread.SetValue(L"first", L"1"));
    ASSERT_EQ(S_OK, reread.Save());
    CConfigurationEx third;
    ASSERT_EQ(S_OK, third.LoadFile(m_path));
    EXPECT_EQ(1, third.GetNumber(L"first", 0)) << ReadBytes(m_path);
    const std::vector<std::wstring> files{L"app.exe.config"};
    EXPECT_EQ(files, FilesIn(m_folder));
}
