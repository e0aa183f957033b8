// The agent program as a whole process: one agent per session, the stop switch, and the
// window that stays hidden and ignores the user's close. No cart is configured here, so the
// agent searches for none.
#include "agent/CKelvoAgentApp.h"
#include "common/CHandleEx.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <chrono>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// One started program; terminated if it still runs when the object goes.
class CProgram
{
public:
    CProgram() = default;
    ~CProgram()
    {
        if (m_info.hProcess)
        {
            if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_info.hProcess, 99);
            CloseHandle(m_info.hProcess);
            CloseHandle(m_info.hThread);
        }
    }
    CProgram(const CProgram&) = delete;
    CProgram& operator=(const CProgram&) = delete;

    bool Start(const std::wstring& path, const std::wstring& arguments = L"")
    {
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
        return CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                              &startup, &m_info) != FALSE;
    }
    // True when the program ended within the bound; its exit code in `code`.
    bool WaitForExit(DWORD boundMs, DWORD* code = nullptr) const
    {
        if (WaitForSingleObject(m_info.hProcess, boundMs) != WAIT_OBJECT_0)
            return false;
        if (code)
            GetExitCodeProcess(m_info.hProcess, code);
        return true;
    }
    bool IsRunning() const { return WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD GetId() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info = {};
};

struct WindowSearch
{
    DWORD processId;
    const wchar_t* title;
    HWND found;
    bool visibleOnly = false;
};

BOOL CALLBACK MatchAgentWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {}, title[128] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    GetWindowTextW(window, title, ARRAYSIZE(title));
    if (owner == search->processId && wcscmp(className, L"#32770") == 0 && wcscmp(title, search->title) == 0 &&
        (!search->visibleOnly || IsWindowVisible(window)))
    {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The agent window of the process, found as other processes find it.
HWND WaitForAgentWindow(const CProgram& program, const CStringEx& title, DWORD boundMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(boundMs);
    do
    {
        WindowSearch search = { program.GetId(), title, nullptr };
        EnumWindows(&MatchAgentWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(50);
    } while (Clock::now() < end && program.IsRunning());
    return nullptr;
}

class AgentProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CResourceLoader::Instance().Load(), 0u);
        ASSERT_TRUE(CResourceLoader::Instance().TryLoadString(IDS_AGENT_TITLE, m_title));
        m_agentPath = ProgramFolder() + L"\\KelvoAgent.exe";
    }

    // Runs the agent with the arguments and waits for its end; the time it took.
    Clock::duration RunToEnd(const std::wstring& arguments, DWORD boundMs, DWORD* code)
    {
        CProgram program;
        EXPECT_TRUE(program.Start(m_agentPath, arguments));
        const auto start = Clock::now();
        EXPECT_TRUE(program.WaitForExit(boundMs, code)) << "KelvoAgent.exe " << std::string(arguments.begin(), arguments.end())
                                                        << " did not end within " << boundMs << " ms";
        return Clock::now() - start;
    }

    CStringEx m_title;
    std::wstring m_agentPath;
};
}

TEST_F(AgentProcess, SecondStartDoesNothingAndTheFirstStaysHiddenThroughCloseAndEscape)
{
    CProgram first;
    ASSERT_TRUE(first.Start(m_agentPath));
    const HWND window = WaitForAgentWindow(first, m_title, 15000);
    ASSERT_NE(window, nullptr);

    // Whoever shows it, it stays hidden; a user's close and Escape change nothing.
    ShowWindow(window, SW_SHOWNORMAL);
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(window, WM_CLOSE, 0, 0);

    DWORD code = 1;
    RunToEnd(L"", 10000, &code);
    EXPECT_EQ(code, 0u);

    Sleep(300);
    EXPECT_TRUE(first.IsRunning());
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));

    RunToEnd(L"/stop", 10000, &code);
    EXPECT_TRUE(first.WaitForExit(5000));
}

// The session's agent mutex cannot be made when its name is held in a way this agent cannot
// open: by an agent of higher integrity on Windows, here by an object of another kind under
// the name. The agent must take that for a running agent and end, never start a second
// worker on the same cart.
TEST_F(AgentProcess, MutexThatCannotBeMadeCountsAsARunningAgent)
{
    const CHandleEx blocker(CreateEventW(nullptr, TRUE, FALSE, CKelvoAgentApp::kInstanceMutexName));
    ASSERT_TRUE(blocker.IsValid());
    ASSERT_FALSE(CHandleEx(CreateMutexW(nullptr, FALSE, CKelvoAgentApp::kInstanceMutexName)).IsValid())
        << "the name must be unusable for a mutex";

    CProgram agent;
    ASSERT_TRUE(agent.Start(m_agentPath));
    DWORD code = 1;
    const bool ended = agent.WaitForExit(10000, &code);
    EXPECT_TRUE(ended) << "a second agent started beside the one that holds the name";
    EXPECT_EQ(code, 0u);
    if (!ended)
        RunToEnd(L"/stop", 10000, &code);
}

class AgentStopSwitch : public AgentProcess, public ::testing::WithParamInterface<const wchar_t*>
{
};

TEST_P(AgentStopSwitch, EndsTheRunningAgentAtOnce)
{
    CProgram agent;
    ASSERT_TRUE(agent.Start(m_agentPath));
    ASSERT_NE(WaitForAgentWindow(agent, m_title, 15000), nullptr);

    DWORD stopCode = 1;
    const auto took = RunToEnd(GetParam(), 10000, &stopCode);
    EXPECT_EQ(stopCode, 0u);
    DWORD agentCode = 1;
    ASSERT_TRUE(agent.WaitForExit(1000, &agentCode));
    EXPECT_EQ(agentCode, 0u);
    // It closed by itself: the stop form terminates only 3000 ms after its close, which it
    // sends after its own start, so a termination always takes longer than this.
    EXPECT_LT(took, std::chrono::milliseconds(3000));
}

INSTANTIATE_TEST_SUITE_P(AgentProcess, AgentStopSwitch, ::testing::Values(L"/stop", L"-STOP", L"/Stop other"));

TEST_F(AgentProcess, StopSwitchWithoutARunningAgentEndsAtOnce)
{
    DWORD code = 1;
    const auto took = RunToEnd(L"-stop", 10000, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    // It did not stay as the session's agent.
    CProgram next;
    ASSERT_TRUE(next.Start(m_agentPath));
    EXPECT_NE(WaitForAgentWindow(next, m_title, 15000), nullptr);
    RunToEnd(L"/stop", 10000, &code);
}

class UnresponsiveAgent : public AgentProcess, public ::testing::WithParamInterface<const wchar_t*>
{
protected:
    void SetUp() override
    {
        AgentProcess::SetUp();
        // The unresponsive program must carry the agent's file name to count as an agent.
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"KelvoUnresponsiveAgent-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
        m_fakePath = m_folder + L"\\KelvoAgent.exe";
        ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\UnresponsiveAgent.exe").c_str(), m_fakePath.c_str(), FALSE));
    }
    void TearDown() override
    {
        DeleteFileW(m_fakePath.c_str());
        RemoveDirectoryW(m_folder.c_str());
    }

    std::wstring m_folder;
    std::wstring m_fakePath;
};

TEST_P(UnresponsiveAgent, IsTerminatedByTheStopSwitchAfterItsGrace)
{
    CProgram fake;
    ASSERT_TRUE(fake.Start(m_fakePath, std::wstring(GetParam()) + L" --title \"" + m_title.GetString() + L"\""));
    ASSERT_NE(WaitForAgentWindow(fake, m_title, 15000), nullptr);

    DWORD stopCode = 1;
    const auto took = RunToEnd(L"/stop", 20000, &stopCode);
    EXPECT_EQ(stopCode, 0u);
    DWORD fakeCode = 1;
    ASSERT_TRUE(fake.WaitForExit(1000, &fakeCode));
    // Terminated with code 0 (on its own it would end with 3, after a minute).
    EXPECT_EQ(fakeCode, 0u);
    EXPECT_GE(took, std::chrono::milliseconds(2500));
    EXPECT_LT(took, std::chrono::milliseconds(12000));
}

INSTANTIATE_TEST_SUITE_P(AgentProcess, UnresponsiveAgent, ::testing::Values(L"--ignore-close", L"--hung"));

namespace
{
std::wstring Trimmed(std::wstring text)
{
    while (!text.empty() && iswspace(text.back()))
        text.pop_back();
    return text;
}

struct ResourceCase
{
    const char* name;
    const wchar_t* variantFolder;   // KVResource to put beside the program; null: none
    UINT expectedText;              // the program's own string
};

void PrintTo(const ResourceCase& c, std::ostream* os) { *os << c.name; }

class AgentResourceFile : public AgentProcess, public ::testing::WithParamInterface<ResourceCase>
{
protected:
    void TearDown() override
    {
        for (const std::wstring& file : m_files)
            DeleteFileW(file.c_str());
        RemoveDirectoryW(m_folder.c_str());
    }
    std::wstring m_folder;
    std::vector<std::wstring> m_files;
};
}

TEST_P(AgentResourceFile, MissingOrOlderGivesTheProgramsOwnTextAndEnds)
{
    const ResourceCase& c = GetParam();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"KelvoAgentResources-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    const std::wstring agent = m_folder + L"\\KelvoAgent.exe";
    ASSERT_TRUE(CopyFileW(m_agentPath.c_str(), agent.c_str(), FALSE));
    m_files.push_back(agent);
    if (c.variantFolder)
    {
        const std::wstring library = m_folder + L"\\KVResource.dll";
        ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\kvresource-variants\\" + c.variantFolder + L"\\KVResource.dll").c_str(),
                              library.c_str(), FALSE));
        m_files.push_back(library);
    }

    CProgram program;
    ASSERT_TRUE(program.Start(agent));
    // Before the satellite library is loaded the program titles its box with its name.
    WindowSearch search = { program.GetId(), L"KelvoAgent", nullptr, true };
    for (int i = 0; i < 300 && !search.found && program.IsRunning(); ++i)
    {
        EnumWindows(&MatchAgentWindow, reinterpret_cast<LPARAM>(&search));
        Sleep(50);
    }
    ASSERT_NE(search.found, nullptr) << "no box titled KelvoAgent appeared";

    wchar_t text[512] = {};
    GetDlgItemTextW(search.found, 0xFFFF, text, ARRAYSIZE(text));
    const wchar_t* expected = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), c.expectedText, reinterpret_cast<LPWSTR>(&expected), 0);
    ASSERT_GT(length, 0);
    EXPECT_EQ(Trimmed(text), Trimmed(std::wstring(expected, static_cast<size_t>(length))));

    // Answered as a user would; the program then ends without a window of its own.
    PostMessageW(search.found, WM_COMMAND, IDOK, 0);
    DWORD code = 1;
    ASSERT_TRUE(program.WaitForExit(10000, &code));
    EXPECT_EQ(code, 0u);
}

const ResourceCase kResourceCases[] = {
    { "Missing", nullptr, 101 },
    { "OlderBuild", L"older-build", 104 },
};

INSTANTIATE_TEST_SUITE_P(AgentProcess, AgentResourceFile, ::testing::ValuesIn(kResourceCases),
                         [](const ::testing::TestParamInfo<ResourceCase>& info) { return std::string(info.param.name); });
