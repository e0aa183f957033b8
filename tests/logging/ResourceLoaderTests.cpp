// The satellite resource library: which candidate the loader takes (beside the program, the
// locale folder, 1033), the version rule, the texts by ID with their failure text, and the
// message boxes (observed through the loader's message-box seam, never shown).
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "KelvoVersion.h"
#include "resources/KVIdsLogging.h"
#include "resources/ProgramStrings.h"
#include "tests/logging/LoggingTestSupport.h"
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <vector>

using namespace LoggingTest;

namespace
{
TEST(ResourceLoader, LoadsTheReleaseLibraryBesideTheProgram)
{
    CResourceLoader& loader = CResourceLoader::Instance();
    ASSERT_EQ(0u, loader.Load());
    const HMODULE module = loader.GetModule();
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(ProgramFolder() + L"\\KVResource.dll", loader.GetLibraryPath());
    EXPECT_EQ(CResourceLoader::GetProgramVersion() + L".0", loader.GetLibraryVersion());
    // Loading again keeps what is loaded.
    EXPECT_EQ(0u, loader.Load());
    EXPECT_EQ(module, loader.GetModule());
}

TEST(ResourceLoader, ProgramVersionAndPathComeFromTheRunningProgram)
{
    CStringEx expected;
    expected.Format(L"%d.%d.%d", KELVO_VERSION_MAJOR, KELVO_VERSION_MINOR, KELVO_VERSION_BUILD);
    EXPECT_EQ(expected, CResourceLoader::GetProgramVersion());

    CStringEx folder, name;
    ASSERT_TRUE(CResourceLoader::GetModulePath(folder, name, FALSE));
    EXPECT_EQ(ProgramFolder(), folder);
    EXPECT_EQ(CStringEx(L"LoggingTests"), name);
    ASSERT_TRUE(CResourceLoader::GetModulePath(folder, name, TRUE));
    EXPECT_EQ(CStringEx(L"LoggingTests.exe"), name);
}

TEST(ResourceLoader, ProgramsOwnTableAnswersUntilALibraryIsLoaded)
{
    CResourceLoader fresh;
    CStringEx text;
    BOOL failed = TRUE;
    ASSERT_TRUE(fresh.LoadString(IDS_PROG_NO_RESOURCE_FILE, text, &failed));
    EXPECT_FALSE(failed);
    EXPECT_EQ(CStringEx(L"A compatible resource file has not been found. Application is terminating."), text);
    ASSERT_TRUE(fresh.LoadString(IDS_PROG_RESOURCE_FILE_OLDER, text));
    EXPECT_EQ(CStringEx(L"A resource file was found but it is an older version. Application is terminating.\n"), text);

    ASSERT_EQ(0u, fresh.Load());
    ASSERT_TRUE(fresh.LoadString(IDS_LOG_FOLDER_NAME, text, &failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(text.IsEmpty());
}

class ResourceLoaderLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, CResourceLoader::Instance().Load());
        m_prefix = UniqueName(L"ResT");
        ASSERT_EQ(S_OK, CUtilLogging::Instance().Initialize(2, 0, m_prefix, FOLDERID_LocalAppData));
        m_file = CUtilLogging::Instance().GetFilePath();
    }
    void TearDown() override
    {
        CUtilLogging::Instance().Initialize(0, 0, nullptr, FOLDERID_LocalAppData);
        DeleteFileW(m_file);
    }
    CStringEx m_prefix;
    CStringEx m_file;
};

TEST_F(ResourceLoaderLogTest, MissingStringGivesTheFailureTextAndOneErrorLine)
{
    CStringEx text;
    BOOL failed = FALSE;
    EXPECT_FALSE(CResourceLoader::Instance().LoadString(64990, text, &failed));
    EXPECT_TRUE(failed);
    EXPECT_EQ(CStringEx(L"String (64990) failed to load."), text);
    EXPECT_EQ(1, CountOf(ReadBytes(m_file), "String (64990) failed to load.\r\n"));
}

TEST_F(ResourceLoaderLogTest, FormatStringFillsInTheArgumentsOrGivesTheFailureTextAsItIs)
{
    CStringEx text;
    CResourceLoader::Instance().FormatString(text, IDS_LOG_FALLBACK_TIMESTAMP, 3, 9, 2026, 8, 7, 6, 54);
    EXPECT_EQ(CStringEx(L"03/09/2026 08:07:06.054 "), text);
    CResourceLoader::Instance().FormatString(text, 64991, 12345);
    EXPECT_EQ(CStringEx(L"String (64991) failed to load."), text);
    EXPECT_EQ(1, CountOf(ReadBytes(m_file), "String (64991) failed to load.\r\n"));
}

struct ShownBox
{
    int count = 0;
    HWND owner = nullptr;
    CStringEx text, caption;
    UINT style = 0;
    DWORD timeout = 0;
};
ShownBox g_box;

int RecordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    ++g_box.count;
    g_box.owner = owner;
    g_box.text = text;
    g_box.caption = caption;
    g_box.style = style;
    g_box.timeout = timeoutMs;
    return IDRETRY;
}

TEST(ResourceLoader, MessageBoxShowsTheTextOfTheIdOnTopWithItsTimeOut)
{
    ASSERT_EQ(0u, CResourceLoader::Instance().Load());
    CResourceLoader::SetMessageBoxHook(&RecordBox);
    g_box = ShownBox();
    const int answer = CResourceLoader::Instance().MessageBoxRes(nullptr, IDS_LOG_FOLDER_NAME, L"Kelvo",
                                                                 MB_RETRYCANCEL | MB_ICONWARNING, 5000);
    const ShownBox timed = g_box;
    g_box = ShownBox();
    CResourceLoader::Instance().MessageBoxRes(nullptr, 64992, L"Kelvo", MB_OK, 0);
    const ShownBox missing = g_box;
    CResourceLoader::SetMessageBoxHook(nullptr);

    CStringEx expected;
    CResourceLoader::Instance().LoadString(IDS_LOG_FOLDER_NAME, expected);
    EXPECT_EQ(IDRETRY, answer);
    EXPECT_EQ(1, timed.count);
    EXPECT_EQ(expected, timed.text);
    EXPECT_EQ(CStringEx(L"Kelvo"), timed.caption);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL | MB_ICONWARNING | MB_TOPMOST), timed.style);
    EXPECT_EQ(5000u, timed.timeout);
    EXPECT_EQ(1, missing.count);
    EXPECT_EQ(CStringEx(L"String (64992) failed to load."), missing.text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_TOPMOST), missing.style);
    EXPECT_EQ(0u, missing.timeout);
}

// One start of the probe program from a scenario folder.
struct Placement
{
    const wchar_t* subfolder; // empty: beside the program
    const wchar_t* variant;   // "release" or a folder of kvresource-variants
};

struct LogLine
{
    UINT textId; // 102 (locale folder) or 103 (US English folder)
    const wchar_t* subfolder;
};

struct LoaderScenario
{
    friend void PrintTo(const LoaderScenario& s, std::ostream* out) { *out << s.name; }
    const char* name;
    bool german;
    std::vector<Placement> libraries;
    DWORD result;
    const wchar_t* library; // relative to the scenario folder; null when none was loaded
    std::vector<LogLine> logLines;
};

const wchar_t kNotFoundBox[] = L"A compatible resource file has not been found. Application is terminating.";
const wchar_t kOlderBox[] = L"A resource file was found but it is an older version. Application is terminating.\\n";

class ResourceSearchTest : public ::testing::TestWithParam<LoaderScenario>
{
protected:
    void TearDown() override
    {
        if (!m_logFile.IsEmpty())
            DeleteFileW(m_logFile);
        DeleteTree(m_folder);
    }

    CStringEx VariantPath(const wchar_t* variant) const
    {
        if (CStringEx(variant) == L"release")
            return ProgramFolder() + L"\\KVResource.dll";
        return ProgramFolder() + L"\\kvresource-variants\\" + variant + L"\\KVResource.dll";
    }

    // Runs the probe; it inherits this process's environment and so its language.
    DWORD RunProbe(const CStringEx& probe, const CStringEx& report, const CStringEx& prefix)
    {
        CStringEx commandLine;
        commandLine.Format(L"\"%s\" \"%s\" %s", probe.GetString(), report.GetString(), prefix.GetString());
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(probe, commandLine.GetBuffer(0), nullptr, nullptr, FALSE, 0, nullptr, m_folder, &startup,
                            &process))
            return GetLastError() | 0x10000000;
        CHandleEx processHandle(process.hProcess), threadHandle(process.hThread);
        if (processHandle.Wait(60000) != WAIT_OBJECT_0)
            return WAIT_TIMEOUT | 0x20000000;
        DWORD exitCode = 0;
        GetExitCodeProcess(processHandle.GetHandle(), &exitCode);
        return exitCode;
    }

    static std::map<std::string, std::string> ParseReport(const std::string& text)
    {
        std::map<std::string, std::string> values;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line))
        {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const size_t equals = line.find('=');
            if (equals != std::string::npos)
                values[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return values;
    }

    CStringEx m_folder;
    CStringEx m_logFile;
};

TEST_P(ResourceSearchTest, ProgramStartFindsTheLibraryOfItsRelease)
{
    const LoaderScenario& s = GetParam();
    m_folder = TempFolder() + L"\\" + UniqueName(L"kvprobe");
    ASSERT_TRUE(CreateDirectoryW(m_folder, nullptr));
    const CStringEx probe = m_folder + L"\\KelvoResourceProbe.exe";
    ASSERT_TRUE(CopyFileW(ProgramFolder() + L"\\KelvoResourceProbe.exe", probe, FALSE)) << GetLastError();
    for (const Placement& placement : s.libraries)
    {
        CStringEx target = m_folder;
        if (*placement.subfolder)
        {
            target += CStringEx(L"\\") + placement.subfolder;
            CreateDirectoryW(target, nullptr);
        }
        ASSERT_TRUE(CopyFileW(VariantPath(placement.variant), target + L"\\KVResource.dll", FALSE))
            << Narrow(VariantPath(placement.variant)) << " " << GetLastError();
    }

    const CStringEx report = m_folder + L"\\report.txt";
    const DWORD exitCode = RunProbe(probe, report, UniqueName(L"Probe"));
    auto values = ParseReport(ReadBytes(report));
    m_logFile = CStringEx(std::wstring(values["log"].begin(), values["log"].end()));

    EXPECT_EQ(s.result, exitCode);
    EXPECT_EQ(std::to_string(s.result), values["result"]);
    EXPECT_EQ(s.german ? "1031" : "1033", values["locale"]);
    EXPECT_EQ("0x00000000", values["logstart"]);
    if (s.library)
    {
        EXPECT_EQ(Narrow(m_folder + L"\\" + s.library), values["library"]);
        EXPECT_EQ(Narrow(CResourceLoader::GetProgramVersion()) + ".0", values["version"]);
        EXPECT_EQ("Logs", values["string543"]) << "texts come from the satellite library";
        EXPECT_EQ("", values["box"]);
    }
    else
    {
        EXPECT_EQ("", values["library"]);
        EXPECT_EQ("ProbeLogs", values["string543"]) << "texts come from the program's own table";
        EXPECT_EQ(Narrow(s.result == 425 ? kOlderBox : kNotFoundBox), values["box"]);
        EXPECT_EQ("KelvoResourceProbe", values["caption"]);
    }

    // Each failed attempt in the locale and US English folders leaves one error line.
    const std::string log = ReadBytes(m_logFile);
    EXPECT_EQ(static_cast<int>(s.logLines.size()), CountOf(log, "LoadResUsing")) << log;
    for (const LogLine& line : s.logLines)
    {
        CStringEx expected;
        expected.Format(L"%s: Error (126) loading resource dll '%s\\%s\\KVResource.dll'\r\n",
                        line.textId == IDS_PROG_LOAD_EXACT_LOCALE ? L"LoadResUsingExactLocale" : L"LoadResUsingUSEnglish",
                        m_folder.GetString(), line.subfolder);
        EXPECT_EQ(1, CountOf(log, Narrow(expected))) << Narrow(expected) << "\n" << log;
    }
}

const std::vector<LogLine> kUsEnglishMisses = { { IDS_PROG_LOAD_EXACT_LOCALE, L"1033" },
                                                { IDS_PROG_LOAD_US_ENGLISH, L"1033" } };

const LoaderScenario kScenarios[] = {
    LoaderScenario{ "ReleaseBesideProgram", false, { { L"", L"release" } }, 0, L"KVResource.dll", {} },
    LoaderScenario{ "FourthNumberDiffersIsAccepted", false, { { L"", L"fix-of-release" } }, 0, L"KVResource.dll", {} },
    LoaderScenario{ "OlderBuildIsRefused", false, { { L"", L"older-build" } }, 425, nullptr, kUsEnglishMisses },
    LoaderScenario{ "NewerMinorIsRefused", false, { { L"", L"newer-minor" } }, 425, nullptr, kUsEnglishMisses },
    LoaderScenario{ "NewerMajorIsRefused", false, { { L"", L"newer-major" } }, 425, nullptr, kUsEnglishMisses },
    LoaderScenario{ "UnreadableVersionIsRefused", false, { { L"", L"no-version" } }, 425, nullptr, kUsEnglishMisses },
    LoaderScenario{ "NoLibraryAnywhere", false, {}, 2, nullptr, kUsEnglishMisses },
    LoaderScenario{ "OlderBesideThenUsEnglishFolder", false, { { L"", L"older-build" }, { L"1033", L"release" } }, 0,
                    L"1033\\KVResource.dll", {} },
    LoaderScenario{ "OlderInUsEnglishFolderOnly", false, { { L"1033", L"older-build" } }, 425, nullptr, {} },
    LoaderScenario{ "GermanLocaleFolder", true, { { L"1031", L"release" } }, 0, L"1031\\KVResource.dll", {} },
    LoaderScenario{ "GermanFallsBackToUsEnglish", true, { { L"1033", L"release" } }, 0, L"1033\\KVResource.dll",
                    { { IDS_PROG_LOAD_EXACT_LOCALE, L"1031" } } },
    LoaderScenario{ "GermanNoLibrary", true, {}, 2, nullptr,
                    { { IDS_PROG_LOAD_EXACT_LOCALE, L"1031" }, { IDS_PROG_LOAD_US_ENGLISH, L"1033" } } },
    LoaderScenario{ "GermanBesideComesBeforeLocaleFolder", true, { { L"", L"release" }, { L"1031", L"older-build" } }, 0,
                    L"KVResource.dll", {} },
    LoaderScenario{ "GermanOlderThenUsEnglishFix", true,
                    { { L"1031", L"older-build" }, { L"1033", L"fix-of-release" } }, 0, L"1033\\KVResource.dll", {} }
};

// Wine takes the machine language from LC_ALL when a process starts, and a started program
// inherits it. The German scenarios exist only in a process started under
// LC_ALL=de_DE.UTF-8 (their own ctest run), the others only under US English.
std::vector<LoaderScenario> ScenariosOfThisLocale()
{
    const bool german = LANGIDFROMLCID(GetSystemDefaultLCID()) == 1031;
    std::vector<LoaderScenario> scenarios;
    for (const LoaderScenario& scenario : kScenarios)
        if (scenario.german == german)
            scenarios.push_back(scenario);
    return scenarios;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ResourceSearchTest, ::testing::ValuesIn(ScenariosOfThisLocale()),
                         [](const ::testing::TestParamInfo<LoaderScenario>& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ResourceSearchTest);

// The run that asks for a locale (KELVO_REQUIRE_LOCALE) must really have it, or its
// scenarios would silently be those of another language.
TEST(ResourceSearch, ProcessHasTheLocaleItsRunRequires)
{
    wchar_t required[16] = {};
    if (GetEnvironmentVariableW(L"KELVO_REQUIRE_LOCALE", required, 16) == 0)
        return; // the ordinary run takes the machine's locale as it is
    EXPECT_EQ(static_cast<DWORD>(_wtoi(required)), LANGIDFROMLCID(GetSystemDefaultLCID())) << "LC_ALL did not reach Wine";
    EXPECT_FALSE(ScenariosOfThisLocale().empty());
}
}
