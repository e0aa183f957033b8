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
    const HWND notice = GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE);
    EXPECT_EQ(ResourceText(IDS_EDITOR_NOTICE_DIRECT), WindowText(notice));
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
    // The notice now says where this file's saves go.
    EXPECT_EQ(ResourceText(IDS_EDITOR_NOTICE_SERVICE), WindowText(notice));
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

// The administrator at the keyboard alone, at 96 and 144 DPI (every dialog photographed at
// both): arrows and Enter over a setting of every type, Enter to accept and Escape to cancel,
// the list editor's Enter adding what was typed, the cart-access picker with its advanced
// search by a typed name, Ctrl+S, and Close with unsaved edits answered with Cancel. The
// file and the keyboard focus are checked at every step.
class AdminKeyboardRoad : public AdminEditor, public ::testing::WithParamInterface<int>
{
protected:
    std::wstring Shot(HWND window, const wchar_t* name)
    {
        return Screenshot(window, (std::wstring(name) + L"_" + std::to_wstring(GetParam()) + L"dpi").c_str());
    }
    // The focus reaches the control (with the dialog's activation, a moment after it shows).
    static bool HasFocus(HWND dialog, HWND control)
    {
        return WaitFor([&] { return Focused(dialog) == control; }, 3000);
    }
    int Selected() { return static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); }
    // Walks the list with the arrow keys to the setting, presses Enter and waits for its dialog.
    HWND EnterOn(const wchar_t* caption, const wchar_t* title = nullptr)
    {
        const int target = CRemoteList(m_list).Find(caption);
        for (int guard = 0; guard < 20 && Selected() != target; ++guard)
            Press(m_main, Selected() < target ? VK_DOWN : VK_UP);
        EXPECT_EQ(target, Selected()) << Narrow(caption);
        EXPECT_TRUE(HasFocus(m_main, m_list));
        Press(m_main, VK_RETURN);
        return FindDialog(m_editor.Id(), [&](const std::wstring& shown) { return shown == (title ? title : caption); });
    }
    // The dialog is gone, the focus is back in the list and nothing opened again.
    void Closed(HWND dialog, const wchar_t* title)
    {
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }));
        EXPECT_TRUE(HasFocus(m_main, m_list)) << Narrow(title);
        EXPECT_EQ(nullptr, FindDialog(m_editor.Id(), [&](const std::wstring& shown) { return shown == title; }, 700))
            << Narrow(title) << " opened again";
    }
};

TEST_P(AdminKeyboardRoad, AnAdministratorEditsAndSavesWithTheKeyboardAlone)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    const std::wstring data = m_folder + L"\\directory.ini";
    WriteFileBytes(data, ReadFileBytes(data) + "[group R&D Nurses]\r\ndescription = Research\r\n[user pat]\r\n"
                                               "display = Pat Lee\r\n[group Pat Lee]\r\n");
    const DWORD dpi = static_cast<DWORD>(GetParam());
    const DWORD before = SetLogPixels(dpi);
    StartEditor();
    SetLogPixels(before);
    ASSERT_NE(nullptr, m_main);
    auto dialog = [&](const wchar_t* title) {
        return FindDialog(m_editor.Id(), [&](const std::wstring& shown) { return shown == title; });
    };
    // Types, presses the key, and photographs the dialog that comes.
    auto step = [&](HWND window, const wchar_t* typed, WORD key, const wchar_t* title, const wchar_t* shot) {
        EXPECT_TRUE(WaitFor([&] { return IsChild(window, Focused(window)); }, 3000));
        Type(window, typed);
        Press(window, key);
        const HWND next = *title ? dialog(title) : nullptr;
        if (next)
            Shot(next, shot);
        return next;
    };
    // Common controls 6 (the manifest), and a layout at the DPI set: the list's 406 dialog
    // units take over 1.4 pixels each at 96 DPI, and more with the DPI.
    EXPECT_TRUE(LoadsCommonControls6(m_editor.Id()));
    RECT listArea = {};
    GetClientRect(m_list, &listArea);
    EXPECT_GT(listArea.right, static_cast<LONG>(406 * 14 * dpi / (10 * 96)));
    // The first setting is selected and described, in the definitions' order, captions alone.
    EXPECT_TRUE(HasFocus(m_main, m_list));
    EXPECT_EQ(0, Selected());
    EXPECT_EQ(L"Log retention", CRemoteList(m_list).Text(0, 0));
    EXPECT_EQ(ResourceText(IDS_EDITOR_NOTICE_DIRECT), WindowText(GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE)));
    Shot(m_main, L"Road_Main");

    // A setting of every single-value type: Enter opens its editor with the focus on the
    // value (control focus), keys change it, Enter accepts and Escape drops the change.
    struct Edit { const wchar_t* caption; int focus; const wchar_t* typed; WORD key, modifier, end; const wchar_t* shown; };
    for (const Edit& edit : { Edit{ L"Menu text: start sign-on", 1037, L"Open the drawers", 0, 0, VK_RETURN, L"Open the drawers" },
                              Edit{ L"Prompt time-out", 1029, L"99", 0, 0, VK_ESCAPE, L"20" },
                              Edit{ L"Exit in the notification menu", 0, L"", 'Y', VK_MENU, VK_RETURN, L"Yes" },
                              Edit{ L"Log level", 1006, L"", VK_DOWN, 0, VK_RETURN, L"Start and stop" } })
    {
        HWND editor = EnterOn(edit.caption);
        ASSERT_NE(nullptr, editor) << Narrow(edit.caption);
        EXPECT_TRUE(!edit.focus || HasFocus(editor, GetDlgItem(editor, edit.focus))) << Narrow(edit.caption);
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(editor, 1011), GWL_STYLE) & SS_NOPREFIX);
        EXPECT_TRUE(edit.focus != 1029 || WindowText(GetDlgItem(editor, 1014)).find(L"(from 1 to 99)") != std::wstring::npos)
            << "no limits shown";
        Shot(editor, (L"Road_Edit_" + std::to_wstring(edit.focus)).c_str());
        Type(editor, edit.typed);
        if (edit.key)
            Press(editor, edit.key, edit.modifier);
        Press(editor, edit.end);
        Closed(editor, edit.caption);
        EXPECT_EQ(edit.shown, Value(edit.caption));
    }
    // List: Enter adds the typed value and the focus stays where the next one is typed.
    HWND editor = EnterOn(L"Supported carts");
    ASSERT_NE(nullptr, editor);
    EXPECT_TRUE(HasFocus(editor, GetDlgItem(editor, 1024)));
    EXPECT_NE(std::wstring::npos, WindowText(GetDlgItem(editor, 7420)).find(L"VID_")) << "no format hint";
    Type(editor, L"HID\\VID_1FC9&PID_0003");
    Press(editor, VK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(editor, 1025), LB_GETCOUNT, 0, 0) == 2; }));
    // Add pressed with the keyboard goes grey and gives the focus back to the typing.
    Type(editor, L"HID\\VID_1FC9&PID_0004");
    Press(editor, VK_TAB);
    Press(editor, VK_TAB);
    EXPECT_TRUE(HasFocus(editor, GetDlgItem(editor, 1021)));
    Press(editor, VK_SPACE);
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(editor, 1025), LB_GETCOUNT, 0, 0) == 3; }));
    EXPECT_TRUE(HasFocus(editor, GetDlgItem(editor, 1024)));
    Shot(editor, L"Road_EditList");
    Press(editor, VK_RETURN);
    Closed(editor, L"Supported carts");
    EXPECT_EQ(L"HID\\VID_0B6A&PID_0417 HID\\VID_1FC9&PID_0003 HID\\VID_1FC9&PID_0004", Value(L"Supported carts"));

    // Cart access: a name nobody has is corrected to one two accounts share, and one is chosen.
    HWND picker = EnterOn(L"Cart access", L"Cart Access");
    ASSERT_NE(nullptr, picker);
    auto pressAdd = [&] {
        EXPECT_TRUE(HasFocus(picker, GetDlgItem(picker, 1038)));
        Press(picker, VK_TAB);
        EXPECT_TRUE(HasFocus(picker, GetDlgItem(picker, 1001)));
        Press(picker, VK_SPACE);
        return dialog(L"Select Users or Groups");
    };
    HWND select = pressAdd();
    ASSERT_NE(nullptr, select);
    EXPECT_TRUE(HasFocus(select, GetDlgItem(select, 1027)));
    Shot(select, L"Road_Select");
    HWND correct = step(select, L"nobody", VK_RETURN, L"Name Not Found", L"Road_Correct");
    ASSERT_NE(nullptr, correct);
    HWND resolve = step(correct, L"Pat Lee", VK_RETURN, L"Multiple Names Found", L"Road_Resolve");
    ASSERT_NE(nullptr, resolve);
    Press(resolve, VK_DOWN);
    Press(resolve, VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return CRemoteList(GetDlgItem(picker, 1038)).Count() == 1; }));
    // The advanced search: typing starts in the name, Enter finds, Enter takes the row found.
    select = pressAdd();
    ASSERT_NE(nullptr, select);
    EXPECT_TRUE(HasFocus(select, GetDlgItem(select, 1027)));
    Press(select, 'D', VK_MENU);
    HWND advanced = dialog(L"Select Users or Groups: Advanced Search");
    ASSERT_NE(nullptr, advanced);
    HWND name = nullptr;
    EXPECT_TRUE(WaitFor([&] { return GetDlgCtrlID(name = Focused(advanced)) == 1026; }));
    EXPECT_EQ(GetParent(name), GetParent(GetNextDlgTabItem(advanced, GetDlgItem(advanced, 1018), FALSE))) << "the page does not follow the location";
    step(advanced, L"R&D Nurses", VK_RETURN, L"", L"");
    HWND results = GetDlgItem(advanced, 1027);
    ASSERT_TRUE(WaitFor([&] { return CRemoteList(results).Count() == 1 && Focused(advanced) == results; }));
    Shot(advanced, L"Road_Advanced");
    Press(advanced, VK_RETURN);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(advanced); }));
    EXPECT_TRUE(HasFocus(select, GetDlgItem(select, IDOK)));
    Press(select, VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return CRemoteList(GetDlgItem(picker, 1038)).Count() == 2; }));
    Shot(picker, L"Road_CartAccess");
    Press(picker, VK_RETURN);
    Closed(picker, L"Cart Access");
    EXPECT_NE(std::wstring::npos, Value(L"Cart access").find(L"\\R&D Nurses")) << Narrow(Value(L"Cart access"));

    // Ctrl+U shows the XML; Escape closes it.
    Press(m_main, 'U', VK_CONTROL);
    HWND xml = dialog(L"Configuration XML");
    ASSERT_NE(nullptr, xml);
    Shot(xml, L"Road_ViewXml");
    Press(xml, VK_ESCAPE);
    Closed(xml, L"Configuration XML");

    // Ctrl+S saves every edit.
    Press(m_main, 'S', VK_CONTROL);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(m_agentFile).find("Open the drawers") != std::string::npos; }));
    const std::string saved = ReadFileBytes(m_agentFile);
    for (const char* text : { "ShowExitMenuItem", "PID_0004", "R&amp;D Nurses", "<value>20</value>" })
        EXPECT_NE(std::string::npos, saved.find(text)) << text << "\n" << saved;
    EXPECT_TRUE(WaitFor([&] { return !SaveEnabled(); }));

    // An unsaved edit at Close: the question names the file, Save is its default, and Cancel
    // (Escape) keeps the window, the edit and the file as they were.
    step(EnterOn(L"Menu text: end access"), L"Lock the drawers", VK_RETURN, L"", L"");
    Closed(nullptr, L"Menu text: end access");
    Press(m_main, VK_ESCAPE);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = dialog(m_caption.c_str())) != m_main && box; }));
    EXPECT_TRUE(HasFocus(box, GetDlgItem(box, IDYES)));
    Shot(box, L"Road_SaveChanges");
    Press(box, VK_ESCAPE);
    EXPECT_TRUE(HasFocus(m_main, m_list));
    EXPECT_FALSE(m_editor.WaitForExit(300));
    EXPECT_EQ(L"Lock the drawers", Value(L"Menu text: end access"));
    EXPECT_EQ(saved, ReadFileBytes(m_agentFile));
    // Tab to Save and Space: saved, and the button goes grey without taking the focus along.
    Press(m_main, VK_TAB);
    EXPECT_TRUE(HasFocus(m_main, GetDlgItem(m_main, IDOK)));
    Press(m_main, VK_SPACE);
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(m_agentFile).find("Lock the drawers") != std::string::npos; }));
    EXPECT_TRUE(HasFocus(m_main, m_list));
}

INSTANTIATE_TEST_SUITE_P(Dpi, AdminKeyboardRoad, ::testing::Values(96, 144));
