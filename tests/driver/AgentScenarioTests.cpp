// The real agent program under Wine against the cart simulator program, through the HID
// stand-ins and the scenario driver: the road of a cart that is plugged in, pulled out and
// plugged in again while the agent runs, and of the agent's stop.
#include "sim/driver/KelvoScenarioDriver.h"
#include "agent/KelvoAgentMessages.h"
#include "resources/KVResourceIds.h"
#include "sim/signon/SimIds.h"
#include <gtest/gtest.h>

namespace
{
std::string Text(const CStringEx& text) { return ScenarioUtf8(text); }

// A log text of the scenario's KVResource with the device path in place of its %s.
std::string DeviceLogText(const CScenarioFolder& folder, UINT id, const CStringEx& path)
{
    CStringEx format, text;
    EXPECT_TRUE(folder.GetResources().LoadText(id, format)) << id;
    text.Format(format, path.GetString());
    return Text(text);
}

std::string ReadText(LPCWSTR path)
{
    CFileHandleEx file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        text.append(chunk, read);
    return text;
}
}

TEST(AgentScenario, AgentFollowsTheCartOutAndBackInAndEndsWithTheStopSwitch)
{
    CCartSimProcess cart;
    ASSERT_EQ(0u, cart.Start()) << Text(cart.GetErrorText());
    CScenarioFolder folder;
    ASSERT_EQ(0u, folder.Create()) << Text(folder.GetErrorText());
    ASSERT_EQ(0u, folder.SetHidDevices({{cart.GetDevicePath(), cart.GetVendorId(), cart.GetProductId()}}));
    ASSERT_EQ(0u, folder.WriteConfig({{IDS_CFG_CART_HARDWARE_IDS, {folder.HardwareId(cart.GetVendorId(), cart.GetProductId())}},
                                      {IDS_CFG_LOG_LEVEL, {L"5"}}}))
        << Text(folder.GetErrorText());
    CAgentLog log(folder);
    CStringEx noAuthSwitch, arguments;
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_SWITCH_NO_AUTO_AUTH, noAuthSwitch));
    arguments.Format(L"/%s", noAuthSwitch.GetString());

    // Started, it finds the cart through the stand-ins and polls it.
    CAgentProcess agent;
    size_t mark = cart.Mark();
    ASSERT_EQ(0u, agent.Start(folder, arguments)) << Text(agent.GetErrorText());
    ASSERT_NE(nullptr, agent.WaitForWindow(20000)) << Text(agent.GetErrorText());
    CAgentProcess::State state;
    ASSERT_TRUE(agent.WaitForConnected(1, 15000, &state)) << state.connected << "\n" << log.NewText();
    EXPECT_TRUE(cart.WaitForExchange(L"status 0x01 reported", mark, 5000)) << cart.Transcript();
    EXPECT_NE(std::string::npos, ReadText(folder.GetHidTracePath()).find("CM_Get_Device_Interface_ListW: " +
                                                                         Text(cart.GetDevicePath())));

    // Pulled out: the pipe goes and Windows broadcasts the removal.
    ASSERT_TRUE(cart.Remove()) << Text(cart.GetErrorText());
    LRESULT answer = 0;
    ASSERT_TRUE(agent.SendDeviceRemoval(cart.GetDevicePath(), 5000, &answer));
    EXPECT_EQ(TRUE, answer);
    EXPECT_TRUE(agent.WaitForConnected(0, 5000, &state)) << state.connected;
    EXPECT_TRUE(log.WaitForText(DeviceLogText(folder, IDS_CART_DEVICE_REMOVED, cart.GetDevicePath()).c_str(), 5000))
        << log.NewText();

    // A click on the icon meanwhile says so in a box, which the user answers.
    CStringEx notConnected;
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_CART_NOT_CONNECTED, notConnected));
    ASSERT_TRUE(agent.Post(WM_AGENT_NOTIFY_ICON, 0, WM_LBUTTONDOWN));
    CMessageBoxAnswerer answerer(agent.GetProcessId(), agent.GetWindowTitle());
    ASSERT_NE(nullptr, answerer.WaitForBox(5000)) << "no box titled " << Text(agent.GetWindowTitle());
    EXPECT_EQ(notConnected.Str(), answerer.GetText().Str());
    EXPECT_TRUE(answerer.Press(IDOK, 3000));

    // Plugged in again: the arrival makes it current and the polling resumes.
    ASSERT_TRUE(cart.Restore()) << Text(cart.GetErrorText());
    mark = cart.Mark();
    ASSERT_TRUE(agent.SendDeviceArrival(cart.GetDevicePath(), 5000, &answer));
    EXPECT_TRUE(agent.WaitForConnected(1, 5000, &state)) << state.connected;
    EXPECT_TRUE(cart.WaitForExchange(L"status 0x01 reported", mark, 5000)) << cart.Transcript();
    EXPECT_TRUE(log.WaitForText(DeviceLogText(folder, IDS_CART_DEVICE_ARRIVED, cart.GetDevicePath()).c_str(), 5000))
        << log.NewText();

    // The stop form of a second start ends it.
    EXPECT_EQ(0u, agent.StopWithSwitch(15000)) << Text(agent.GetErrorText());
    EXPECT_FALSE(agent.IsRunning());
    EXPECT_TRUE(cart.Quit());
}

TEST(AgentScenario, StandInsAreRegisteredWhereWindowsLooksForTheProducts)
{
    ASSERT_EQ(0u, ScenarioRegisterStandIns());
    // The sign-on product's class, served from the build's stand-in.
    wchar_t clsid[64] = {};
    StringFromGUID2(signonsim::CLSID_Auth, clsid, ARRAYSIZE(clsid));
    CStringEx key, server;
    key.Format(L"CLSID\\%s\\InprocServer32", clsid);
    DWORD size = MAX_PATH * sizeof(wchar_t);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr,
                                          server.GetBuffer(MAX_PATH), &size));
    server.ReleaseBuffer();
    EXPECT_EQ(0, server.CompareNoCase(ScenarioPath(ScenarioProgramFolder(), L"KelvoSignOnSim.dll"))) << Text(server);
    // The directory's providers, where ADsOpenObject looks them up.
    CRegKeyEx provider;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\ADs\\Providers\\LDAP", 0, KEY_READ,
                                           provider.Put()));
    // A library that is not there is refused with regsvr32's failure.
    EXPECT_NE(0u, ScenarioRegisterComServer(L"C:\\no-such-folder\\NoSuchServer.dll"));
}
