#include "ConfigTestSupport.h"
#include "common/CConfiguration.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "resources/KVIdsLogging.h"
#include <shlobj.h>

// Files under the shared program-data folder and beside the test program. Every test
// uses file names of its own, so tests running side by side never meet.
class ConfigLocation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CTaskMemEx programData;
        ASSERT_EQ(S_OK, SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, reinterpret_cast<PWSTR*>(programData.Put())));
        m_dataFolder = static_cast<const wchar_t*>(programData.Get());
        for (UINT id : {IDS_DATA_FOLDER_COMPANY, IDS_DATA_FOLDER_PRODUCT, IDS_DATA_FOLDER_PROGRAM})
        {
            CStringEx level;
            ASSERT_TRUE(CResourceLoader::Instance().LoadString(id, level));
            m_dataFolder += L"\\";
            m_dataFolder += level;
        }
        const int result = SHCreateDirectoryExW(nullptr, m_dataFolder, nullptr);
        ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS) << result;
        CStringEx name;
        ASSERT_TRUE(CResourceLoader::GetModulePath(m_programFolder, name, TRUE));
    }

    void TearDown() override
    {
        for (const CStringEx& file : m_written)
            DeleteFileW(file);
    }

    CStringEx Write(const CStringEx& folder, const CStringEx& fileName, const char* value)
    {
        CStringEx path(folder);
        path += L"\\";
        path += fileName;
        WriteBytes(path, std::string("<configuration><appSettings><add key=\"where\"><value>") + value +
                             "</value></add></appSettings></configuration>");
        m_written.push_back(path);
        return path;
    }

    CStringEx m_dataFolder;
    CStringEx m_programFolder;
    std::vector<CStringEx> m_written;
};

TEST_F(ConfigLocation, TheProgramDataCopyWinsOverTheOneBesideTheProgram)
{
    const CStringEx name = UniqueName(L"KvBoth");
    const CStringEx fileName = Concat(name, L".exe.config");
    const CStringEx shared = Write(m_dataFolder, fileName, "data");
    Write(m_programFolder, fileName, "program");

    CConfiguration config;
    ASSERT_TRUE(config.Load(name));
    EXPECT_EQ(Utf8(shared), Utf8(config.GetPath()));
    CStringEx text;
    EXPECT_TRUE(config.GetValue(L"where", text));
    EXPECT_EQ("data", Utf8(text));
}

TEST_F(ConfigLocation, TheProgramFolderIsSearchedSecondAndNothingFoundFails)
{
    const CStringEx name = UniqueName(L"KvOwn");
    const CStringEx own = Write(m_programFolder, Concat(name, L".exe.config"), "program");

    CConfiguration config;
    ASSERT_TRUE(config.Load(name));
    EXPECT_EQ(Utf8(own), Utf8(config.GetPath()));

    // A failed load forgets what was loaded before, and the log names both places.
    const CStringEx nowhere = UniqueName(L"KvNowhere");
    const CLogMark mark;
    EXPECT_FALSE(config.Load(nowhere));
    const std::string log = mark.NewText();
    EXPECT_NE(std::string::npos, log.find(Utf8(m_dataFolder) + "\\" + Utf8(nowhere) + ".exe.config")) << log;
    EXPECT_NE(std::string::npos, log.find(Utf8(m_programFolder) + "\\" + Utf8(nowhere) + ".exe.config")) << log;
    EXPECT_FALSE(config.IsLoaded());
    EXPECT_TRUE(config.GetPath().IsEmpty());
    CStringEx text;
    EXPECT_FALSE(config.GetValue(L"where", text));
    EXPECT_FALSE(config.GetEnumerator());
}

struct NameCase
{
    const char* label;
    const wchar_t* given;  // appended to a unique base name to form the argument
    const wchar_t* right;  // appended to the argument: the file that must load
    const wchar_t* wrong;  // appended to the argument: what the other rule would load
};

class ConfigName : public ConfigLocation, public ::testing::WithParamInterface<NameCase>
{
};

TEST_P(ConfigName, TheNameDecidesTheFileName)
{
    const CStringEx argument = Concat(UniqueName(L"KvName"), GetParam().given);
    Write(m_dataFolder, Concat(argument, GetParam().right), "right");
    Write(m_dataFolder, Concat(argument, GetParam().wrong), "wrong");

    CConfiguration config;
    ASSERT_TRUE(config.Load(argument));
    CStringEx text;
    EXPECT_TRUE(config.GetValue(L"where", text));
    EXPECT_EQ("right", Utf8(text));
}

INSTANTIATE_TEST_SUITE_P(Names, ConfigName,
                         ::testing::Values(NameCase{"Bare", L"", L".exe.config", L".config"},
                                           NameCase{"WithDot", L".cfg", L".config", L".exe.config"},
                                           NameCase{"WithExe", L".exe", L".config", L".exe.config"}),
                         [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST_F(ConfigLocation, ANullNameLoadsTheProgramsOwnFile)
{
    CStringEx folder, programFile;
    ASSERT_TRUE(CResourceLoader::GetModulePath(folder, programFile, TRUE));
    // Only this test writes the test program's own file name.
    Write(m_programFolder, Concat(programFile, L".config"), "own");

    CConfiguration config;
    ASSERT_TRUE(config.Load(nullptr));
    CStringEx text;
    EXPECT_TRUE(config.GetValue(L"where", text));
    EXPECT_EQ("own", Utf8(text));
}

namespace
{
HRESULT WINAPI NoProgramDataFolder(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path)
{
    *path = nullptr;
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}
}

// Without the shared folder, its three levels alone would name a folder at the root of the
// current drive, where any user may create folders and plant a file that grants everyone.
TEST_F(ConfigLocation, WithoutTheProgramDataFolderNothingIsLoaded)
{
    CTaskMemEx programData;
    ASSERT_EQ(S_OK, SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, reinterpret_cast<PWSTR*>(programData.Put())));
    const CStringEx levels = m_dataFolder.Mid(static_cast<int>(wcslen(static_cast<const wchar_t*>(programData.Get()))));
    wchar_t saved[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, saved));
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    const CStringEx planted = Concat(L"C:", levels);
    const int made = SHCreateDirectoryExW(nullptr, planted, nullptr);
    ASSERT_TRUE(made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS) << made;
    const CStringEx name = UniqueName(L"KvRoot");
    const CStringEx fileName = Concat(name, L".exe.config");
    Write(planted, fileName, "planted");
    Write(m_programFolder, fileName, "program");

    CConfiguration::SetKnownFolderPath(&NoProgramDataFolder);
    CConfiguration config;
    const CLogMark mark;
    const BOOL loaded = config.Load(name);
    CConfiguration::SetKnownFolderPath(nullptr);
    SetCurrentDirectoryW(saved);

    EXPECT_FALSE(loaded) << "loaded " << Utf8(config.GetPath());
    CStringEx text;
    EXPECT_FALSE(config.GetValue(L"where", text));
    EXPECT_TRUE(text.IsEmpty());
    const std::string log = mark.NewText();
    EXPECT_NE(std::string::npos,
              log.find("Configuration file lookup failed (" + std::to_string(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) + ")"))
        << log;

    // The planted file and its folders go; folders other tests use stay.
    DeleteFileW(Concat(Concat(planted, L"\\"), fileName));
    for (CStringEx folder = planted; folder.GetLength() > 3; folder = folder.Left(folder.ReverseFind(L'\\')))
        RemoveDirectoryW(folder);

    // With the folder back the program-data rule applies again.
    ASSERT_TRUE(config.Load(name));
    EXPECT_EQ(Utf8(Concat(Concat(m_programFolder, L"\\"), fileName)), Utf8(config.GetPath()));
}
