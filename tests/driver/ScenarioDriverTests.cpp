// The scenario driver against a small dialog program of its own (ScenarioTestDialog, a
// stand-in for the agent's window) and the cart simulator program.
#include "sim/driver/KelvoScenarioDriver.h"
#include "tests/uisupport/UiScreenshot.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <wtsapi32.h>

namespace
{
constexpr int kAskCommand = 100;

std::string Text(const CStringEx& text) { return ScenarioUtf8(text); }

// The dialog program in a scenario folder that presents the cart, with a title of its own.
struct DialogScenario
{
    CCartSimProcess cart;
    CScenarioFolder folder;
    CAgentProcess dialog;

    void Start()
    {
        ASSERT_EQ(0u, cart.Start()) << Text(cart.GetErrorText());
        ASSERT_EQ(0u, folder.Create(L"ScenarioTestDialog.exe")) << Text(folder.GetErrorText());
        ASSERT_EQ(0u, folder.SetHidDevices({{cart.GetDevicePath(), cart.GetVendorId(), cart.GetProductId()}}));
        const CStringEx title = ScenarioUniqueName(L"Kelvo scenario dialog");
        dialog.SetWindowTitle(title);
        CStringEx arguments;
        arguments.Format(L"--title \"%s\" --hwid \"%s\"", title.GetString(),
                         folder.HardwareId(cart.GetVendorId(), cart.GetProductId()).GetString());
        ASSERT_EQ(0u, dialog.Start(folder, arguments)) << Text(dialog.GetErrorText());
        ASSERT_NE(nullptr, dialog.WaitForWindow(15000)) << Text(dialog.GetErrorText());
    }
};
}

TEST(ScenarioDriver, DialogFollowsTheCartThroughBroadcastsSessionChangesAndAnsweredBox)
{
    DialogScenario s;
    ASSERT_NO_FATAL_FAILURE(s.Start());
    CAgentProcess::State state;
    ASSERT_TRUE(s.dialog.WaitForConnected(1, 10000, &state)) << state.connected;
    EXPECT_NE(std::string::npos, Text(s.folder.GetResources().GetPath()).find("KVResource.dll"));

    // Removal as Windows broadcasts it: the pipe goes, then the broadcast names it.
    ASSERT_TRUE(s.cart.Remove()) << Text(s.cart.GetErrorText());
    LRESULT answer = 0;
    ASSERT_TRUE(s.dialog.SendDeviceRemoval(s.cart.GetDevicePath(), 5000, &answer));
    EXPECT_EQ(TRUE, answer);
    EXPECT_TRUE(s.dialog.WaitForConnected(0, 5000, &state)) << state.connected;

    // Arrival: the broadcast reaches the other process with its path intact.
    ASSERT_TRUE(s.cart.Restore()) << Text(s.cart.GetErrorText());
    ASSERT_TRUE(s.dialog.SendDeviceArrival(s.cart.GetDevicePath()));
    EXPECT_TRUE(s.dialog.WaitForConnected(1, 5000, &state)) << state.connected;

    // A lock, posted as Windows posts session changes.
    ASSERT_TRUE(s.dialog.PostSessionChange(WTS_SESSION_LOCK));
    EXPECT_TRUE(s.dialog.WaitForState([](const CAgentProcess::State& st) { return st.cartReady == 0; }, 5000));

    // A box that blocks its program until someone answers it.
    ASSERT_TRUE(s.dialog.Post(WM_COMMAND, kAskCommand));
    CMessageBoxAnswerer answerer(s.dialog.GetProcessId(), s.dialog.GetWindowTitle());
    const HWND box = answerer.WaitForBox(10000, L"Bind");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"Bind the cart to this computer?", answerer.GetText().Str());
    EXPECT_FALSE(kelvo_test::SaveWindowScreenshot(box, L"ScenarioDriver_AnsweredBox").empty());
    EXPECT_FALSE(answerer.Press(IDCANCEL, 500)) << "a Yes/No box has no Cancel button";
    ASSERT_TRUE(answerer.Press(IDYES));
    EXPECT_TRUE(s.dialog.WaitForState([](const CAgentProcess::State& st) { return st.cartFault == IDYES; }, 5000));

    DWORD exitCode = 99;
    ASSERT_TRUE(s.dialog.Close(10000));
    ASSERT_TRUE(s.dialog.WaitForExit(0, &exitCode));
    EXPECT_EQ(0u, exitCode);
    // The dialog found its cart through the stand-ins beside it.
    const std::string trace = s.folder.ReadHidTrace();
    EXPECT_NE(std::string::npos, trace.find("CM_Get_Device_Interface_ListW: " + Text(s.cart.GetDevicePath()))) << trace;
    EXPECT_TRUE(s.cart.Quit());
}

TEST(ScenarioDriver, MistakesAndMissingPiecesGiveClearErrors)
{
    // A program that is not in the build.
    {
        CScenarioFolder folder;
        EXPECT_NE(0u, folder.Create(L"NoSuchProgram.exe"));
        EXPECT_NE(std::string::npos, Text(folder.GetErrorText()).find("NoSuchProgram.exe")) << Text(folder.GetErrorText());
    }
    // A configuration in the shared program-data folder would win over the scenario's.
    {
        CTaskMemEx known;
        ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, reinterpret_cast<PWSTR*>(known.Put()))));
        CStringEx shared = static_cast<const wchar_t*>(known.Get());
        for (LPCWSTR level : {L"Kelvo", L"Cart", L"Agent"})
        {
            shared = ScenarioPath(shared, level);
            CreateDirectoryW(shared, nullptr);
        }
        const CStringEx leftover = ScenarioPath(shared, L"ScenarioTestDialog.exe.config");
        CFileHandleEx(CreateFileW(leftover, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        CScenarioFolder folder;
        const DWORD error = folder.Create(L"ScenarioTestDialog.exe");
        DeleteFileW(leftover);
        EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), error);
        EXPECT_NE(std::string::npos, Text(folder.GetErrorText()).find("ScenarioTestDialog.exe.config"))
            << Text(folder.GetErrorText());
    }
    // A command the simulator does not know, and one it does afterwards.
    {
        CCartSimProcess cart;
        ASSERT_EQ(0u, cart.Start());
        EXPECT_TRUE(cart.Command("dance", 1500).IsEmpty());
        EXPECT_NE(std::string::npos, Text(cart.GetErrorText()).find("'dance' was not acknowledged"))
            << Text(cart.GetErrorText());
        EXPECT_TRUE(cart.Press());
        EXPECT_TRUE(cart.Quit());
    }
    // A window with another title is not taken for the program's: the wait ends at its bound.
    {
        DialogScenario s;
        ASSERT_NO_FATAL_FAILURE(s.Start());
        CAgentProcess other;
        other.SetWindowTitle(L"Some other title");
        CScenarioFolder folder;
        ASSERT_EQ(0u, folder.Create(L"ScenarioTestDialog.exe"));
        ASSERT_EQ(0u, other.Start(folder, L"--title \"Not the one\" --hwid none --ignore-close yes"));
        const DWORD start = GetTickCount();
        EXPECT_EQ(nullptr, other.WaitForWindow(1000));
        EXPECT_LT(GetTickCount() - start, 5000u);
        EXPECT_NE(std::string::npos, Text(other.GetErrorText()).find("Some other title")) << Text(other.GetErrorText());

        // Found under its own title, it ignores the close: the bounded wait ends it.
        other.SetWindowTitle(L"Not the one");
        ASSERT_NE(nullptr, other.WaitForWindow(10000)) << Text(other.GetErrorText());
        EXPECT_FALSE(other.Close(1000));
        EXPECT_NE(std::string::npos, Text(other.GetErrorText()).find("terminated")) << Text(other.GetErrorText());
        EXPECT_FALSE(other.IsRunning());
        EXPECT_TRUE(s.dialog.Close());
    }
}

namespace
{
SYSTEMTIME g_logClock = {};
SYSTEMTIME LogClock()
{
    return g_logClock;
}

void AppendText(const CStringEx& path, const char* text)
{
    const CStringEx folder = path.Left(path.ReverseFind(L'\\'));
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    CFileHandleEx file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr));
}
}

// A scenario that runs over midnight: the program writes its lines into the next day's file
// from then on, and the reader finds them there as well as the rest of the day it marked.
TEST(ScenarioDriver, AgentLogReadsOnIntoTheNextDaysFileAfterMidnight)
{
    CScenarioFolder folder;
    ASSERT_EQ(0u, folder.Create()) << Text(folder.GetErrorText());
    // Days no real log has, so that nothing of another test is read or removed.
    g_logClock = {2099, 12, 4, 31, 23, 59, 59, 900};
    CAgentLog log(folder, &LogClock);
    const CStringEx lastDay = log.GetPath();
    const SYSTEMTIME nextMorning = {2100, 1, 5, 1, 0, 0, 0, 100};
    const CStringEx nextDay = log.GetPathOf(nextMorning);
    DeleteFileW(nextDay);

    ASSERT_NO_FATAL_FAILURE(AppendText(lastDay, "before midnight\r\n"));
    g_logClock = nextMorning;
    ASSERT_NO_FATAL_FAILURE(AppendText(nextDay, "after midnight\r\n"));
    EXPECT_EQ(log.NewText(), "before midnight\r\nafter midnight\r\n");
    EXPECT_TRUE(log.WaitForText("after midnight", 0));

    // A new mark starts in the new day's file.
    log.Mark();
    EXPECT_EQ(log.GetPath(), nextDay);
    ASSERT_NO_FATAL_FAILURE(AppendText(nextDay, "later\r\n"));
    EXPECT_EQ(log.NewText(), "later\r\n");
    DeleteFileW(lastDay);
    DeleteFileW(nextDay);
}
