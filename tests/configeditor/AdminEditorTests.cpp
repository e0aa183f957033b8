// The editor used by an administrator: a file the account may not write is saved through
// the configuration service (the real KelvoConfigSvc.exe under Wine's service manager) and
// the running agent is told; the service's own file is saved and the service, when it runs,
// re-reads it. The editor runs as KelvoEditorAdminHost (the real editor with the platform's
// answers about domain, account and file permission replaced, see AdminEditorHost.cpp);
// the directory stand-in says this account is a local administrator.
#include "EditorTestSupport.h"
#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <commctrl.h>

using namespace editor_test;

namespace
{
class AdminEditor : public ConfigSvcWorld
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ConfigSvcWorld::SetUp());
        ASSERT_NO_FATAL_FAILURE(InstallCopy());
        ASSERT_EQ(0u, RunCopy(L"-service")) << Narrow(Boxes());
        // The editor's administrator test reads the directory's search root first.
        const std::wstring data = m_folder + L"\\directory.ini";
        WriteFileBytes(data, ReadFileBytes(data) + Narrow(L"[domain]\r\ndns = " + m_computer + L"\r\nnetbios = " +
                                                          m_computer + L"\r\n"));
        m_caption = ResourceText(IDS_EDITOR_CAPTION);
        m_editorFolder = MakeTempFolder(L"admin");
        // The editor's folder is the install folder: the service writes the agent's file there.
        RecordProductFolders(ConfigFolder(), m_editorFolder);
        ASSERT_TRUE(CopyFromBin(L"KelvoEditorAdminHost.exe", m_editorFolder, L"KelvoAgentConfig.exe"));
        for (const wchar_t* name : { L"KelvoAgentConfig.exe.config", L"KVResource.dll", L"KelvoAgentConfigSec.dll" })
            ASSERT_TRUE(CopyFromBin(name, m_editorFolder)) << Narrow(name);
        m_agentFile = m_editorFolder + L"\\KelvoAgent.exe.config";
    }
    void TearDown() override
    {
        m_editor.Kill();
        m_peer.Kill();
        DeleteTree(m_editorFolder);
        ConfigSvcWorld::TearDown();
    }
    void StartEditor(const std::wstring& arguments = std::wstring())
    {
        StartEditorWindow(m_editor, m_editorFolder, arguments, m_caption, 20000, m_main, m_list);
    }
    void StartAgentPeer() { editor_test::StartAgentPeer(m_peer, m_editorFolder, 90000, m_record); }
    HWND OpenEditor(const wchar_t* caption)
    {
        CRemoteList list(m_list);
        list.DoubleClick(list.Find(caption));
        return FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title == caption; });
    }
    std::wstring Value(const wchar_t* caption)
    {
        CRemoteList list(m_list);
        return list.Text(list.Find(caption), 1);
    }
    // A box of the editor is up (the main window is disabled under it).
    bool MessageBoxOpen()
    {
        const HWND found = FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title == m_caption; }, 0);
        return found != nullptr && found != m_main;
    }
    bool SaveEnabled() { return IsEnabled(GetDlgItem(m_main, IDOK)); }
    // Chooses a named value of a Number in its value editor and confirms it.
    void ChooseNamedValue(HWND editor, const wchar_t* name)
    {
        HWND combo = GetDlgItem(editor, 1006);
        const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i)
        {
            wchar_t text[256] = {};
            if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 255)
                SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
            if (std::wstring(text) == name)
                SendMessageW(combo, CB_SETCURSEL, i, 0);
        }
        Click(editor, IDOK);
    }

    std::wstring m_caption;
    std::wstring m_editorFolder;
    std::wstring m_agentFile;
    std::wstring m_record;
    CProcessRun m_editor;
    CProcessRun m_peer;
    HWND m_main = nullptr;
    HWND m_list = nullptr;
};
}

// The administrator's road: the Save button follows the edits, the direct write is refused,
// the service writes the file, the agent is told, and the Enter key edits from the list
// without the Enter that closed a value editor opening it again.
TEST_F(AdminEditor, ARefusedFileIsSavedThroughTheServiceAndTheRunningAgentIsTold)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    ASSERT_NO_FATAL_FAILURE(StartAgentPeer());
    ASSERT_NO_FATAL_FAILURE(StartEditor(L"/refuse \"" + m_agentFile + L"\""));
    EXPECT_EQ(L"", WindowText(GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE)));
    EXPECT_FALSE(SaveEnabled());

    // Enter in the list opens the value editor; the Enter that confirms it does not open it
    // again when its key comes up in the list.
    CRemoteList list(m_list);
    const int timeout = list.Find(L"Prompt time-out");
    list.Click(timeout);
    ASSERT_TRUE(WaitFor([&] { return static_cast<int>(SendMessageW(m_list, LVM_GETSELECTIONMARK, 0, 0)) == timeout; }));
    KeyDown(m_main, VK_RETURN);
    KeyUp(m_main, VK_RETURN);
    HWND editor = FindDialog(m_editor.Id(), [](const std::wstring& title) { return title == L"Prompt time-out"; });
    ASSERT_NE(nullptr, editor) << "Enter in the list opened nothing";
    SetText(editor, 1029, L"40");
    KeyDown(editor, VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(editor); })) << "Enter did not confirm the value editor";
    KeyUp(m_main, VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return Value(L"Prompt time-out") == L"40"; }));
    EXPECT_EQ(nullptr, FindDialog(m_editor.Id(), [](const std::wstring& title) { return title == L"Prompt time-out"; }, 700))
        << "the Enter that closed the value editor opened it again";
    ASSERT_TRUE(WaitFor([&] { return SaveEnabled(); })) << "the Save button stayed disabled after an edit";
    Screenshot(m_main, L"ConfigEditor_AdministratorChanged");

    // The Save button: the direct write is refused, the service writes the file.
    Click(m_main, IDOK);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(m_agentFile).find("<value>40</value>") != std::string::npos; }, 30000))
        << ReadFileBytes(m_agentFile);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(m_record).find("reload") != std::string::npos; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return !SaveEnabled(); }, 5000));
    EXPECT_EQ(L"40", Value(L"Prompt time-out"));
    EXPECT_FALSE(MessageBoxOpen());
    Screenshot(m_main, L"ConfigEditor_AdministratorSaved");
}

// The service's own file: saved while the service does not run, nothing starts it; saved
// while it runs, the service is told and reads its new log level.
TEST_F(AdminEditor, TheServicesFileIsSavedAndOnlyARunningServiceIsTold)
{
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    EXPECT_EQ(L"Details", Value(L"Log level")) << "the service's file (log level 5) is not the one shown";
    ASSERT_NE(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());

    HWND editor = OpenEditor(L"Log level");
    ASSERT_NE(nullptr, editor);
    ChooseNamedValue(editor, L"Events");
    ASSERT_TRUE(WaitFor([&] { return Value(L"Log level") == L"Events"; }));
    Click(m_main, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !SaveEnabled(); }, 10000));
    Sleep(1000);
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), ServiceState()) << "saving the file started the service";

    // With the service running, the next save reaches it.
    CComPtrEx<IUnknown> activation;
    CLSID serviceConfig = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"KelvoConfigSvc.ServiceConfig", &serviceConfig));
    ASSERT_EQ(S_OK, CoCreateInstance(serviceConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, activation.PutVoid()));
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING));
    editor = OpenEditor(L"Log level");
    ASSERT_NE(nullptr, editor);
    ChooseNamedValue(editor, L"Errors");
    ASSERT_TRUE(WaitFor([&] { return Value(L"Log level") == L"Errors"; }));
    Click(m_main, IDOK);
    EXPECT_TRUE(WaitForLog(L"level 2")) << Narrow(ServiceLog());
    Sleep(500);
    EXPECT_FALSE(MessageBoxOpen()) << "the editor reported a failed notice";
}

// The picker opened with Enter in the list, whose control is the picker's parent: the whole
// main window is out of reach while the picker runs (a click on Close does nothing, so the
// settings the picker edits cannot be closed under it), the accounts chosen arrive in the
// list, and the window is usable again afterwards.
TEST_F(AdminEditor, ThePickerOpenedFromTheListKeepsTheWholeMainWindowOutOfReach)
{
    std::string file = kAgentFile;
    file.insert(file.find("\t</appSettings>"),
                "\t\t<add key=\"AuthorizingGroups\"><value>HQ\\Nurses;HQ\\Pharmacists</value></add>\r\n");
    WriteFileBytes(m_agentFile, file);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    CRemoteList list(m_list);
    const int cartAccess = list.Find(L"Cart access");
    ASSERT_GE(cartAccess, 0);
    list.Click(cartAccess);
    ASSERT_TRUE(WaitFor([&] { return static_cast<int>(SendMessageW(m_list, LVM_GETSELECTIONMARK, 0, 0)) == cartAccess; }));
    KeyDown(m_main, VK_RETURN);
    KeyUp(m_main, VK_RETURN);
    const HWND picker = FindDialog(m_editor.Id(), [](const std::wstring& title) { return title == L"Cart Access"; }, 10000);
    ASSERT_NE(nullptr, picker) << "Enter in the list did not open the picker";
    EXPECT_EQ(m_main, GetWindow(picker, GW_OWNER));
    EXPECT_FALSE(IsEnabled(m_main)) << "the main window stayed enabled under the picker";

    // A click on Close while the picker runs reaches nothing.
    MouseClick(GetDlgItem(m_main, IDCANCEL));
    Sleep(700);
    EXPECT_TRUE(IsWindowVisible(picker)) << "the picker went";
    EXPECT_FALSE(m_editor.WaitForExit(0)) << "the editor ended under the picker";
    EXPECT_FALSE(MessageBoxOpen());

    // The picker's OK reaches the setting it was opened for.
    CRemoteList accounts(GetDlgItem(picker, 1038));
    ASSERT_TRUE(WaitFor([&] { return accounts.Count() == 2; })) << accounts.Count();
    accounts.Click(0);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(picker, 1038), LVM_GETSELECTEDCOUNT, 0, 0) == 1; }));
    Click(picker, 1033);
    ASSERT_TRUE(WaitFor([&] { return accounts.Count() == 1; }));
    Click(picker, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(L"Cart access") == L"HQ\\Pharmacists"; })) << Narrow(Value(L"Cart access"));
    EXPECT_TRUE(WaitFor([&] { return IsEnabled(m_main); }));
    EXPECT_TRUE(WaitFor([&] { return SaveEnabled(); }));
    Screenshot(m_main, L"ConfigEditor_AfterPickerFromTheList");
}
