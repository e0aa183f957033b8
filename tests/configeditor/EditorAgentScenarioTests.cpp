// The editor and the real agent side by side, as on a cart's workstation: the agent runs
// against the simulated cart, the editor opens the agent's file beside it, a saved change
// reaches the running agent, which reads its file again and takes the new setting.
#include "EditorTestSupport.h"
#include "sim/driver/KelvoScenarioDriver.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>

using namespace editor_test;

TEST(EditorAndAgent, ALogLevelSavedInTheEditorIsTakenByTheRunningAgent)
{
    CCartSimProcess cart;
    ASSERT_EQ(0u, cart.Start()) << ScenarioUtf8(cart.GetErrorText());
    CScenarioFolder folder;
    ASSERT_EQ(0u, folder.Create()) << ScenarioUtf8(folder.GetErrorText());
    ASSERT_EQ(0u, folder.SetHidDevices({ { cart.GetDevicePath(), cart.GetVendorId(), cart.GetProductId() } }));
    ASSERT_EQ(0u, folder.WriteConfig({ { IDS_CFG_CART_HARDWARE_IDS, { folder.HardwareId(cart.GetVendorId(), cart.GetProductId()) } },
                                       { IDS_CFG_LOG_LEVEL, { L"5" } } }))
        << ScenarioUtf8(folder.GetErrorText());
    CAgentLog log(folder);
    CStringEx noAuthSwitch, arguments;
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_SWITCH_NO_AUTO_AUTH, noAuthSwitch));
    arguments.Format(L"/%s", noAuthSwitch.GetString());
    CAgentProcess agent;
    ASSERT_EQ(0u, agent.Start(folder, arguments)) << ScenarioUtf8(agent.GetErrorText());
    ASSERT_NE(nullptr, agent.WaitForWindow(20000)) << ScenarioUtf8(agent.GetErrorText());

    // The editor beside the agent opens the agent's file.
    for (const wchar_t* name : { L"KelvoAgentConfig.exe", L"KelvoAgentConfig.exe.config", L"KelvoAgentConfigSec.dll" })
        ASSERT_EQ(0u, folder.CopyIn((BinFolder() + L"\\" + name).c_str())) << Narrow(name);
    CProcessRun editor;
    ASSERT_TRUE(editor.Start(folder.PathOf(L"KelvoAgentConfig.exe").GetString(), L"", folder.GetPath().GetString()));
    const std::wstring caption = ResourceText(IDS_EDITOR_CAPTION);
    HWND main = FindDialog(editor.Id(), [&](const std::wstring& title) { return title.rfind(caption, 0) == 0; }, 20000);
    ASSERT_NE(nullptr, main);
    CRemoteList list(GetDlgItem(main, IDC_CONFIG_EDITOR_LIST));
    ASSERT_TRUE(WaitFor([&] { return list.Find(L"Log level") >= 0; }));
    const int level = list.Find(L"Log level");
    EXPECT_EQ(L"Details and cart traffic", list.Text(level, 1));

    // Events instead of details, saved with File > Save.
    list.DoubleClick(level);
    HWND valueEditor = FindDialog(editor.Id(), [](const std::wstring& title) { return title == L"Log level"; });
    ASSERT_NE(nullptr, valueEditor);
    HWND names = GetDlgItem(valueEditor, 1006);
    const LRESULT count = SendMessageW(names, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        if (SendMessageW(names, CB_GETITEMDATA, i, 0) == 4)
            SendMessageW(names, CB_SETCURSEL, i, 0);
    log.Mark();
    Click(valueEditor, IDOK);
    ASSERT_TRUE(WaitFor([&] { return list.Text(level, 1) == L"Events"; }));
    Command(main, ID_CONFIG_EDITOR_SAVE);

    // The agent, told to reload, reads its file again and logs at the new level.
    CStringEx started;
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_LOG_STARTED, started));
    CStringEx expectedText = started.Left(started.Find(L"%d"));
    expectedText += L"4";
    const std::string expected = ScenarioUtf8(expectedText);
    EXPECT_TRUE(log.WaitForText(expected.c_str(), 10000)) << expected << "\n" << log.NewText();
    Screenshot(main, L"ConfigEditor_BesideTheAgent");

    Command(main, IDCANCEL);
    EXPECT_TRUE(editor.WaitForExit(5000));
    EXPECT_EQ(0u, agent.StopWithSwitch(15000)) << ScenarioUtf8(agent.GetErrorText());
    EXPECT_TRUE(cart.Quit());
}
