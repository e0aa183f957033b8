// KelvoAgentConfig.exe as a user meets it: started in a folder of its own beside the agent's
// file, worked from outside with the mouse, the keyboard's messages and the menu, its
// message boxes answered as a user would. Wine runs every program under a local account,
// which the editor never takes for an administrator: these are the roads of a user who is
// not one (the Save button stays disabled, File > Save still writes a file the account may
// write).
#include "EditorTestSupport.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <shlobj.h>

using namespace editor_test;

namespace
{
// The settings the shipped file defines for the agent.
const int kAgentSettingCount = 11;

std::wstring KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        folder = path;
    CoTaskMemFree(path);
    return folder;
}

// Where the programs look for their files before their own folder.
std::wstring ProgramDataFolder()
{
    return KnownFolder(FOLDERID_ProgramData) + L"\\" + ResourceText(IDS_DATA_FOLDER_COMPANY) + L"\\" +
           ResourceText(IDS_DATA_FOLDER_PRODUCT) + L"\\" + ResourceText(IDS_DATA_FOLDER_PROGRAM);
}

std::wstring Format(UINT id, const wchar_t* first, const wchar_t* second, const wchar_t* third = L"",
                    const wchar_t* fourth = L"")
{
    CStringEx text;
    CResourceLoader::Instance().FormatString(text, id, first, second, third, fourth);
    return text.GetString();
}

// Paths as the editor and the test spell them may differ in letter case only.
std::wstring Lower(std::wstring text)
{
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

class EditorWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(0u, CResourceLoader::Instance().Load());
        m_caption = ResourceText(IDS_EDITOR_CAPTION);
        for (const wchar_t* name : { L"KelvoAgent.exe.config", L"KelvoAgentConfig.exe.config" })
            ASSERT_FALSE(FileExists(ProgramDataFolder() + L"\\" + name))
                << "a shared copy would be taken instead of the test's: " << Narrow(name);
        m_folder = MakeTempFolder(L"window");
        for (const wchar_t* name : { L"KelvoAgentConfig.exe", L"KelvoAgentConfig.exe.config", L"KVResource.dll",
                                     L"KelvoAgentConfigSec.dll" })
            ASSERT_TRUE(CopyFromBin(name, m_folder)) << Narrow(name);
        m_agentFile = m_folder + L"\\KelvoAgent.exe.config";
    }
    void TearDown() override
    {
        m_editor.Kill();
        m_peer.Kill();
        SetFileAttributesW(m_agentFile.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteTree(m_folder);
        CoUninitialize();
    }

    // Changes the editor's own logging settings in its file.
    void SetEditorLogLevel(int level)
    {
        const std::wstring path = m_folder + L"\\KelvoAgentConfig.exe.config";
        std::string own = ReadFileBytes(path);
        const std::string from = "<add key=\"LogLevel\"><value>0</value></add>";
        const size_t at = own.find(from);
        ASSERT_NE(std::string::npos, at);
        own.replace(at, from.size(), "<add key=\"LogLevel\"><value>" + std::to_string(level) + "</value></add>");
        WriteFileBytes(path, own);
    }
    // A stand-in agent that records the reload notices it receives.
    void StartAgentPeer() { editor_test::StartAgentPeer(m_peer, m_folder, 60000, m_record); }
    void StartEditor() { StartEditorWindow(m_editor, m_folder, L"", m_caption, 15000, m_main, m_list); }
    int Item(const wchar_t* captionStart)
    {
        const int item = CRemoteList(m_list).Find(captionStart);
        EXPECT_GE(item, 0) << Narrow(captionStart) << " is not listed";
        return item;
    }
    std::wstring Value(int item) { return CRemoteList(m_list).Text(item, 1); }
    // Double-clicks the item and waits for its value editor, titled with the caption.
    HWND OpenEditor(int item, const std::wstring& caption)
    {
        CRemoteList(m_list).DoubleClick(item);
        return FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title == caption; });
    }
    // Opens the item's value editor, enters the value, confirms it and waits until the list
    // shows it.
    void EditValue(int item, const std::wstring& caption, const std::wstring& value)
    {
        HWND editor = OpenEditor(item, caption);
        ASSERT_NE(nullptr, editor);
        SetText(editor, 1029, value);
        Click(editor, IDOK);
        ASSERT_TRUE(WaitFor([&] { return Value(item) == value; })) << Narrow(Value(item));
    }
    // Whether the item's value is drawn in red, as the screen shows it when another item is
    // selected (a selected row is drawn in the selection's colours). The screen is read again
    // (up to 3 s) until it shows what the caller expects, since a loaded machine may not have
    // repainted yet.
    bool ShownAsChanged(int item, bool expected = true)
    {
        CRemoteList list(m_list);
        list.Click(item == 0 ? list.Count() - 1 : 0);
        WaitFor([&] { return static_cast<int>(SendMessageW(m_list, LVM_GETSELECTIONMARK, 0, 0)) != item; }, 2000);
        bool red = !expected;
        WaitFor([&] {
            RedrawWindow(m_list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            Sleep(100);
            CScreenImage image;
            EXPECT_TRUE(CaptureScreen(m_main, image));
            RECT cell = CRemoteList(m_list).ItemRect(item);
            const LONG captionColumnEnd = static_cast<LONG>(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, 0, 0));
            cell.left = captionColumnEnd;
            cell.right = captionColumnEnd + static_cast<LONG>(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, 1, 0));
            MapWindowPoints(m_list, nullptr, reinterpret_cast<POINT*>(&cell), 2);
            RECT window = {};
            GetWindowRect(m_main, &window);
            OffsetRect(&cell, -window.left, -window.top);
            red = HasRedPixels(image, cell);
            return red == expected;
        }, 3000);
        return red;
    }
    std::wstring Screenshot(const wchar_t* name) { return editor_test::Screenshot(m_main, name); }
    // Whether the status line reads the text (letter case aside), waiting up to 3 s for it.
    ::testing::AssertionResult StatusReads(const std::wstring& expected)
    {
        std::wstring status;
        if (WaitFor([&] { return Lower(status = WindowText(GetDlgItem(m_main, IDC_CONFIG_EDITOR_STATUS))) == Lower(expected); },
                    3000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the status line reads \"" << Narrow(status) << "\", not \""
                                             << Narrow(expected) << "\"";
    }
    std::wstring Description() { return WindowText(GetDlgItem(m_main, IDC_CONFIG_EDITOR_DESCRIPTION)); }
    // The columns together are as wide as the list's client area.
    bool ColumnsFillTheList()
    {
        RECT client = {};
        GetClientRect(m_list, &client);
        CRemoteList list(m_list);
        return list.ColumnWidth(0) + list.ColumnWidth(1) + list.ColumnWidth(2) == client.right &&
               list.ColumnWidth(0) > list.ColumnWidth(1);
    }
    std::string AgentFile() { return ReadFileBytes(m_agentFile); }

    std::wstring m_caption;
    std::wstring m_folder;
    std::wstring m_agentFile;
    std::wstring m_record;
    CProcessRun m_editor;
    CProcessRun m_peer;
    HWND m_main = nullptr;
    HWND m_list = nullptr;
};
}

// The whole road of a user who is not an administrator: the list shows the agent's file,
// a double click edits a value, File > Save writes it and the running agent is told; an edit
// left unsaved is asked about at Close, whoever the user is.
TEST_F(EditorWindow, EditSaveNotifyAndCloseWithUnsavedChanges)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    SetEditorLogLevel(4);
    ASSERT_NO_FATAL_FAILURE(StartAgentPeer());
    ASSERT_NO_FATAL_FAILURE(StartEditor());

    // What the window shows at start: the settings under headings of their own, filling the
    // list, and which file they come from.
    EXPECT_EQ(kAgentSettingCount, CRemoteList(m_list).Count());
    EXPECT_EQ(ResourceText(IDS_EDITOR_COLUMN_SETTING), CRemoteList(m_list).Heading(0));
    EXPECT_EQ(ResourceText(IDS_EDITOR_COLUMN_VALUE), CRemoteList(m_list).Heading(1));
    EXPECT_TRUE(ColumnsFillTheList());
    EXPECT_TRUE(StatusReads(Format(IDS_EDITOR_STATUS_FILE, L"KelvoAgent", m_agentFile.c_str())));
    // The notice says what a save does and why this user is no administrator.
    EXPECT_EQ(ResourceText(IDS_EDITOR_NOTICE_DIRECT) + L" " + ResourceText(IDS_EDITOR_NOT_ADMIN),
              WindowText(GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE)));
    EXPECT_FALSE(IsEnabled(GetDlgItem(m_main, IDOK)));
    const int timeout = Item(L"Prompt time-out");
    ASSERT_GE(timeout, 0);
    EXPECT_EQ(L"20", Value(timeout));
    EXPECT_EQ(L"Yes", Value(Item(L"End access on lock and exit")));
    EXPECT_FALSE(ShownAsChanged(timeout, false));
    Screenshot(L"ConfigEditor_MainWindow");

    // A double click opens the value editor; its OK takes the new value over, in red.
    HWND editor = OpenEditor(timeout, L"Prompt time-out");
    ASSERT_NE(nullptr, editor);
    editor_test::Screenshot(editor, L"ConfigEditor_EditNumber");
    SetText(editor, 1029, L"30");
    Click(editor, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(timeout) == L"30"; })) << Narrow(Value(timeout));
    EXPECT_TRUE(ShownAsChanged(timeout));
    EXPECT_EQ(ResourceText(IDS_EDITOR_STATE_CHANGED), CRemoteList(m_list).Text(timeout, 2));
    Screenshot(L"ConfigEditor_Changed");
    EXPECT_EQ(std::string::npos, AgentFile().find("<value>30</value>")) << "written before the save";

    // File > Save writes the file and tells the running agent.
    Command(m_main, ID_CONFIG_EDITOR_SAVE);
    ASSERT_TRUE(WaitFor([&] { return AgentFile().find("<value>30</value>") != std::string::npos; })) << AgentFile();
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(m_record).find("reload") != std::string::npos; }, 3000));
    EXPECT_FALSE(ShownAsChanged(timeout, false));
    EXPECT_EQ(L"30", Value(timeout));

    // An edit left unsaved: Close asks to save it; Cancel keeps the window, No closes unsaved.
    const int exitItem = Item(L"Exit in the notification menu");
    editor = OpenEditor(exitItem, L"Exit in the notification menu");
    ASSERT_NE(nullptr, editor);
    Click(editor, 1032);
    Click(editor, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(exitItem) == L"Yes"; }));
    Command(m_main, IDCANCEL);
    std::wstring question;
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDCANCEL, &question, m_main)) << "Close did not ask";
    EXPECT_EQ(Format(IDS_EDITOR_DISCARD_CHANGES, m_agentFile.c_str(), L""), question);
    EXPECT_FALSE(m_editor.WaitForExit(500));
    Command(m_main, IDCANCEL);
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDNO, nullptr, m_main));
    DWORD code = 1;
    EXPECT_TRUE(m_editor.WaitForExit(5000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(std::string::npos, AgentFile().find("ShowExitMenuItem"));

    // The editor logged under a name of its own, apart from the agent's files.
    const std::wstring logs = KnownFolder(FOLDERID_LocalAppData) + L"\\" + ResourceText(IDS_DATA_FOLDER_COMPANY) + L"\\" +
                              ResourceText(IDS_DATA_FOLDER_PRODUCT) + L"\\" + ResourceText(IDS_DATA_FOLDER_PROGRAM) +
                              L"\\" + ResourceText(IDS_LOG_FOLDER_NAME);
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t day[32];
    swprintf(day, 32, L"%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
    EXPECT_TRUE(FileExists(logs + L"\\KelvoConfigEditor" + day + L".log"));
    EXPECT_FALSE(FileExists(logs + L"\\KelvoAgentConfig" + day + L".log"));
}

// A write that cannot reach the file (here: the file has no section for settings) fails the
// save with a message, and every edit stays as it was, still marked as changed.
TEST_F(EditorWindow, ASaveThatWritesNothingFailsAndKeepsTheEdits)
{
    const std::string noSection = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<configuration>\r\n\t<other/>\r\n</configuration>\r\n";
    WriteFileBytes(m_agentFile, noSection);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    EXPECT_EQ(ResourceText(IDS_EDITOR_STATE_MISSING), CRemoteList(m_list).Text(Item(L"End access on lock and exit"), 2));
    const int timeout = Item(L"Prompt time-out");
    ASSERT_NO_FATAL_FAILURE(EditValue(timeout, L"Prompt time-out", L"45"));

    Command(m_main, ID_CONFIG_EDITOR_SAVE);
    std::wstring message;
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDOK, &message, m_main)) << "the failed save said nothing";
    EXPECT_NE(std::wstring::npos, message.find(m_agentFile)) << Narrow(message);
    EXPECT_NE(std::wstring::npos, message.find(ResourceText(IDS_EDITOR_SAVE_NO_SECTION))) << Narrow(message);
    EXPECT_EQ(noSection, AgentFile());
    EXPECT_EQ(L"45", Value(timeout));
    EXPECT_TRUE(ShownAsChanged(timeout));
    Screenshot(L"ConfigEditor_SaveFailed");
}

// A file this account may not write: the direct write is refused, and a user who is not an
// administrator has no account the service would write for, so the save fails and the
// edits stay.
TEST_F(EditorWindow, AReadOnlyFileRefusesTheSaveOfAUserWhoIsNotAnAdministrator)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    SetFileAttributesW(m_agentFile.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    EXPECT_EQ(ResourceText(IDS_EDITOR_NOTICE_READ_ONLY) + L" " + ResourceText(IDS_EDITOR_NOT_ADMIN),
              WindowText(GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE)));
    const int timeout = Item(L"Prompt time-out");
    ASSERT_NO_FATAL_FAILURE(EditValue(timeout, L"Prompt time-out", L"55"));

    Command(m_main, ID_CONFIG_EDITOR_SAVE);
    std::wstring message;
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDOK, &message, m_main));
    EXPECT_NE(std::wstring::npos, message.find(L"0x80070005")) << Narrow(message);
    EXPECT_NE(std::wstring::npos, message.find(ResourceText(IDS_EDITOR_SAVE_READ_ONLY))) << Narrow(message);
    EXPECT_EQ(kAgentFile, AgentFile());
    EXPECT_TRUE(ShownAsChanged(timeout));
}

// File > Open: a file of another application known to the editor shows that application's
// settings; a file of a program the editor does not know is refused with a message and the
// list stays as it was. Wine's open dialog is answered as a user would: the file's name
// typed into it and Open pressed.
TEST_F(EditorWindow, OpenShowsTheSettingsOfTheFilesApplicationAndRefusesAnUnknownOne)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    const std::wstring elsewhere = MakeTempFolder(L"open");
    const std::string serviceFile = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<configuration>\r\n\t<appSettings>\r\n"
                                    "\t\t<add key=\"LogLevel\"><value>4</value></add>\r\n\t</appSettings>\r\n</configuration>\r\n";
    WriteFileBytes(elsewhere + L"\\KelvoConfigSvc.exe.config", serviceFile);
    WriteFileBytes(elsewhere + L"\\SomeOtherProgram.exe.config", serviceFile);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    // Unsaved edits are asked about before another file replaces them: Cancel opens nothing.
    ASSERT_NO_FATAL_FAILURE(EditValue(Item(L"Prompt time-out"), L"Prompt time-out", L"33"));
    Command(m_main, ID_CONFIG_EDITOR_OPEN);
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDCANCEL, nullptr, m_main)) << "Open did not ask";
    EXPECT_EQ(nullptr, FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title.rfind(m_caption, 0) != 0; }, 700));
    ASSERT_NO_FATAL_FAILURE(EditValue(Item(L"Prompt time-out"), L"Prompt time-out", L"20"));
    auto openFile = [&](const std::wstring& path) {
        Command(m_main, ID_CONFIG_EDITOR_OPEN);
        HWND dialog = FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title.rfind(m_caption, 0) != 0; });
        if (!dialog)
            return false;
        SetText(dialog, 0x47C, path);   // the file name box of the open dialog
        Click(dialog, IDOK);
        return WaitFor([&] { return !IsWindow(dialog); });
    };

    ASSERT_TRUE(openFile(elsewhere + L"\\SomeOtherProgram.exe.config")) << "the open dialog did not take the name";
    std::wstring message;
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDOK, &message, m_main));
    EXPECT_EQ(ResourceText(IDS_EDITOR_NO_APPLICATION), message);
    EXPECT_EQ(kAgentSettingCount, CRemoteList(m_list).Count());

    ASSERT_TRUE(openFile(elsewhere + L"\\KelvoConfigSvc.exe.config"));
    ASSERT_TRUE(WaitFor([&] { return CRemoteList(m_list).Count() == 2; })) << CRemoteList(m_list).Count();
    EXPECT_EQ(L"Events", Value(Item(L"Log level")));
    EXPECT_EQ(L"30", Value(Item(L"Log retention"))) << "a missing entry shows its definition's default";

    // View > XML shows the opened document.
    Command(m_main, ID_CONFIG_EDITOR_VIEW_XML);
    HWND view = FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title.rfind(m_caption, 0) != 0; });
    ASSERT_NE(nullptr, view);
    EXPECT_NE(std::wstring::npos, WindowText(GetDlgItem(view, 1039)).find(L"LogLevel"));
    editor_test::Screenshot(view, L"ConfigEditor_ViewXml");
    Click(view, IDOK);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(view); }));
    DeleteTree(elsewhere);
}

// Every kind of setting the agent has, edited in its own editor and saved: a text, a list
// (a cart added in the list editor), a number with named values, and the cart-access list
// in the picker library's dialog (an account removed).
TEST_F(EditorWindow, EveryKindOfAgentSettingIsEditedAndSaved)
{
    std::string file = kAgentFile;
    file.insert(file.find("\t</appSettings>"),
                "\t\t<add key=\"AuthorizingGroups\"><value>HQ\\Nurses;HQ\\Pharmacists</value></add>\r\n");
    WriteFileBytes(m_agentFile, file);
    ASSERT_NO_FATAL_FAILURE(StartEditor());

    // Text.
    HWND editor = OpenEditor(Item(L"Menu text: start sign-on"), L"Menu text: start sign-on");
    ASSERT_NE(nullptr, editor);
    SetText(editor, 1037, L"Open the drawers");
    Click(editor, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(Item(L"Menu text: start sign-on")) == L"Open the drawers"; }));

    // List: a second cart added.
    editor = OpenEditor(Item(L"Supported carts"), L"Supported carts");
    ASSERT_NE(nullptr, editor);
    SetText(editor, 1024, L"HID\\VID_1FC9&PID_0003");
    ASSERT_TRUE(WaitFor([&] { return IsEnabled(GetDlgItem(editor, 1021)); })) << "Add stayed disabled";
    Click(editor, 1021);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(editor, 1025), LB_GETCOUNT, 0, 0) == 2; }));
    editor_test::Screenshot(editor, L"ConfigEditor_EditList");
    Click(editor, IDOK);
    ASSERT_TRUE(WaitFor([&] {
        return Value(Item(L"Supported carts")) == L"HID\\VID_0B6A&PID_0417 HID\\VID_1FC9&PID_0003";
    })) << Narrow(Value(Item(L"Supported carts")));

    // Number with named values.
    editor = OpenEditor(Item(L"Log level"), L"Log level");
    ASSERT_NE(nullptr, editor);
    HWND names = GetDlgItem(editor, 1006);
    for (LRESULT i = 0; i < SendMessageW(names, CB_GETCOUNT, 0, 0); ++i)
        if (SendMessageW(names, CB_GETITEMDATA, i, 0) == 2)
            SendMessageW(names, CB_SETCURSEL, i, 0);
    Click(editor, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(Item(L"Log level")) == L"Errors"; }));

    // Cart access, in the picker library's dialog: the directory cannot be reached here (its
    // message is answered), the two accounts are listed as given, the first is removed.
    CRemoteList(m_list).DoubleClick(Item(L"Cart access"));
    std::wstring pickerMessage;
    AnswerBox(m_editor.Id(), m_caption, IDOK, &pickerMessage, m_main, 5000);
    HWND picker = FindDialog(m_editor.Id(), [](const std::wstring& title) { return title == L"Cart Access"; }, 10000);
    ASSERT_NE(nullptr, picker) << "the cart-access dialog did not appear; " << Narrow(pickerMessage);
    CRemoteList accounts(GetDlgItem(picker, 1038));
    ASSERT_TRUE(WaitFor([&] { return accounts.Count() == 2; })) << accounts.Count();
    accounts.Click(0);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(picker, 1038), LVM_GETSELECTEDCOUNT, 0, 0) == 1; }));
    editor_test::Screenshot(picker, L"ConfigEditor_CartAccess");
    Click(picker, 1033);
    ASSERT_TRUE(WaitFor([&] { return accounts.Count() == 1; }));
    Click(picker, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(Item(L"Cart access")) == L"HQ\\Pharmacists"; }))
        << Narrow(Value(Item(L"Cart access")));

    Command(m_main, ID_CONFIG_EDITOR_SAVE);
    ASSERT_TRUE(WaitFor([&] { return AgentFile().find("Open the drawers") != std::string::npos; })) << AgentFile();
    const std::string saved = AgentFile();
    EXPECT_EQ(std::string::npos, saved.find("HQ\\Nurses"));
    EXPECT_NE(std::string::npos, saved.find("<value>HQ\\Pharmacists</value>"));
    EXPECT_NE(std::string::npos, saved.find("<value>Open the drawers</value>"));
    EXPECT_NE(std::string::npos, saved.find("<value>HID\\VID_1FC9&amp;PID_0003</value>"));
    EXPECT_NE(std::string::npos, saved.find("<add key=\"LogLevel\">"));
    Screenshot(L"ConfigEditor_EveryKindSaved");
}

// Reload (F5) takes the file as it is now; a file that is gone leaves no document, and the
// next save asks where to write the settings and writes a new file there.
TEST_F(EditorWindow, ReloadTakesTheFileAsItIsNowAndAFileThatIsGoneIsSavedUnderANewName)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    ASSERT_NO_FATAL_FAILURE(StartAgentPeer());
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    std::string changed = kAgentFile;
    changed.replace(changed.find("<value>20</value>"), 17, "<value>25</value>");
    WriteFileBytes(m_agentFile, changed);
    CRemoteList(m_list).Click(0);
    KeyDown(m_main, VK_F5);
    KeyUp(m_main, VK_F5);
    ASSERT_TRUE(WaitFor([&] { return Value(Item(L"Prompt time-out")) == L"25"; }));

    DeleteFileW(m_agentFile.c_str());
    Command(m_main, ID_CONFIG_EDITOR_RELOAD);
    std::wstring message;
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDOK, &message, m_main));
    EXPECT_NE(std::wstring::npos, message.find(m_agentFile)) << Narrow(message);
    EXPECT_TRUE(StatusReads(Format(IDS_EDITOR_STATUS_NO_DOCUMENT, L"KelvoAgent", m_agentFile.c_str())));

    ASSERT_NO_FATAL_FAILURE(EditValue(Item(L"Prompt time-out"), L"Prompt time-out", L"35"));
    Command(m_main, ID_CONFIG_EDITOR_SAVE);
    HWND saveAs = FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title.rfind(m_caption, 0) != 0; });
    ASSERT_NE(nullptr, saveAs) << "the save asked for no file";
    const std::wstring newFile = m_folder + L"\\Saved.config";
    SetText(saveAs, 0x47C, newFile);
    Click(saveAs, IDOK);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(newFile).find("<value>35</value>") != std::string::npos; }))
        << ReadFileBytes(newFile);
    EXPECT_FALSE(ShownAsChanged(Item(L"Prompt time-out"), false));

    // The new file holds every setting the window shows, not only the changed one.
    const std::string saved = ReadFileBytes(newFile);
    for (const char* key : { "LogLevel", "LogRetentionDays", "CartHardwareIds", "GrantWithoutDirectoryCheck",
                             "AuthorizingGroups", "EndAccessOnLockAndExit", "RetryAuthenticationStart",
                             "PromptTimeoutSeconds", "ShowExitMenuItem", "StartAuthenticationMenuText",
                             "EndAccessMenuText" })
        EXPECT_NE(std::string::npos, saved.find(std::string("<add key=\"") + key + "\">")) << key << "\n" << saved;
    EXPECT_NE(std::string::npos, saved.find("HID\\VID_0B6A&amp;PID_0417")) << saved;
    EXPECT_TRUE(StatusReads(Format(IDS_EDITOR_STATUS_FILE, L"KelvoAgent", newFile.c_str())));
    // A file the agent does not read is no reason to tell the agent.
    Sleep(1000);
    EXPECT_EQ(std::string::npos, ReadFileBytes(m_record).find("reload")) << ReadFileBytes(m_record);
}

// A reload with unsaved edits asks first; after it the window shows exactly the file: an
// entry the file lacks shows its definition's default, not the edit made before.
TEST_F(EditorWindow, ReloadWithUnsavedEditsAsksAndThenShowsExactlyTheFile)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    const int exitItem = Item(L"Exit in the notification menu");
    ASSERT_EQ(L"No", Value(exitItem)) << "the file has no entry: the default shows";
    HWND editor = OpenEditor(exitItem, L"Exit in the notification menu");
    ASSERT_NE(nullptr, editor);
    Click(editor, 1032);
    Click(editor, IDOK);
    ASSERT_TRUE(WaitFor([&] { return Value(exitItem) == L"Yes"; }));

    // F5 asks; Cancel keeps the edit.
    CRemoteList(m_list).Click(0);
    KeyDown(m_main, VK_F5);
    KeyUp(m_main, VK_F5);
    std::wstring question;
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDCANCEL, &question, m_main)) << "the reload did not ask";
    EXPECT_EQ(Format(IDS_EDITOR_DISCARD_CHANGES, m_agentFile.c_str(), L""), question);
    EXPECT_EQ(L"Yes", Value(exitItem));
    EXPECT_TRUE(ShownAsChanged(exitItem));

    // No (do not save): the file as it is.
    Command(m_main, ID_CONFIG_EDITOR_RELOAD);
    ASSERT_TRUE(AnswerBox(m_editor.Id(), m_caption, IDNO, nullptr, m_main));
    ASSERT_TRUE(WaitFor([&] { return Value(exitItem) == L"No"; })) << Narrow(Value(exitItem));
    EXPECT_FALSE(ShownAsChanged(exitItem, false));
    EXPECT_EQ(kAgentFile, AgentFile());
    // Nothing is left to ask about at Close.
    Command(m_main, IDCANCEL);
    EXPECT_TRUE(m_editor.WaitForExit(5000)) << "Close asked about changes the reload dropped";
}

// Every setting, of every type, has its full caption, note and key readable below the list
// when selected, however the list cuts its caption.
TEST_F(EditorWindow, TheSelectedSettingsFullNoteIsReadableBelowTheList)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    CRemoteList list(m_list);
    const std::wstring keyLine = ResourceText(IDS_EDITOR_DESCRIPTION_KEY);
    const std::wstring keyPrefix = keyLine.substr(0, keyLine.find(L"%s"));
    for (int item = 0; item < list.Count(); ++item)
    {
        list.Click(item);
        ASSERT_TRUE(WaitFor([&] { return static_cast<int>(SendMessageW(m_list, LVM_GETSELECTIONMARK, 0, 0)) == item; }));
        // The list shows the caption alone; below it caption, note and key have lines of their own.
        const std::wstring caption = list.Text(item, 0);
        EXPECT_EQ(std::wstring::npos, caption.find(L" (")) << Narrow(caption);
        std::wstring described;
        WaitFor([&] { return (described = Description()).rfind(caption + L"\r\n", 0) == 0; }, 2000);
        EXPECT_NE(std::wstring::npos, described.find(L"\r\n" + keyPrefix, caption.size() + 3)) << Narrow(described);
        if (caption == L"Supported carts")
            Screenshot(L"ConfigEditor_Description");
    }
    // A double click on the empty space below the rows edits nothing.
    const RECT last = list.ItemRect(list.Count() - 1);
    for (UINT message : { WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP })
        PostMessageW(m_list, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(last.left + 5, last.bottom + 4));
    EXPECT_EQ(nullptr, FindDialog(m_editor.Id(), [&](const std::wstring& title) { return title.rfind(m_caption, 0) != 0; }, 1000));
}

// The agent's file does not parse: the window shows the next application whose file loads,
// and says which file could not be read and whose settings are shown instead.
TEST_F(EditorWindow, AnUnreadableAgentFileIsNamedAndTheFallBackIsSaid)
{
    WriteFileBytes(m_agentFile, "<?xml version=\"1.0\"?>\r\n<configuration>\r\n\t<appSettings>\r\n");
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    const std::wstring ownFile = m_folder + L"\\KelvoAgentConfig.exe.config";
    EXPECT_TRUE(StatusReads(Format(IDS_EDITOR_FALLBACK_UNREADABLE, L"KelvoAgent", m_agentFile.c_str(), L"KelvoAgentConfig",
                           ownFile.c_str())));
    EXPECT_EQ(Lower(Format(IDS_EDITOR_TITLE_FALLBACK, m_caption.c_str(), L"KelvoAgentConfig", L"KelvoAgent", ownFile.c_str())),
              Lower(WindowText(m_main)));
    Screenshot(L"ConfigEditor_FallBack");
}

// The list follows the window's size, the notice and the buttons keep their distances from
// the edges, and the window does not get smaller than it started.
TEST_F(EditorWindow, TheLayoutFollowsTheWindowAndTheWindowKeepsItsFirstSize)
{
    WriteFileBytes(m_agentFile, kAgentFile);
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    auto clientOf = [&](HWND control) {
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, m_main, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    RECT window = {}, client = {};
    GetWindowRect(m_main, &window);
    GetClientRect(m_main, &client);
    const RECT list = clientOf(m_list), save = clientOf(GetDlgItem(m_main, IDOK));
    const RECT close = clientOf(GetDlgItem(m_main, IDCANCEL)), notice = clientOf(GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE));
    const RECT description = clientOf(GetDlgItem(m_main, IDC_CONFIG_EDITOR_DESCRIPTION));
    const RECT status = clientOf(GetDlgItem(m_main, IDC_CONFIG_EDITOR_STATUS));
    const int captionColumn = CRemoteList(m_list).ColumnWidth(0);
    const int width = window.right - window.left, height = window.bottom - window.top;

    SetWindowPos(m_main, nullptr, 0, 0, width + 200, height + 100, SWP_NOMOVE | SWP_NOZORDER);
    RECT grown = {};
    ASSERT_TRUE(WaitFor([&] {
        GetClientRect(m_main, &grown);
        return grown.right == client.right + 200 && clientOf(m_list).right == list.right + 200;
    })) << clientOf(m_list).right;
    EXPECT_EQ(list.bottom + 100, clientOf(m_list).bottom);
    EXPECT_EQ(save.left + 200, clientOf(GetDlgItem(m_main, IDOK)).left);
    EXPECT_EQ(save.top + 100, clientOf(GetDlgItem(m_main, IDOK)).top);
    EXPECT_EQ(close.left + 200, clientOf(GetDlgItem(m_main, IDCANCEL)).left);
    EXPECT_EQ(notice.top + 100, clientOf(GetDlgItem(m_main, IDC_CONFIG_EDITOR_NOTICE)).top);
    // The description and the status line stay below the list and grow with the window.
    for (const auto& [id, before] : { std::make_pair(IDC_CONFIG_EDITOR_DESCRIPTION, description),
                                      std::make_pair(IDC_CONFIG_EDITOR_STATUS, status) })
    {
        const RECT now = clientOf(GetDlgItem(m_main, id));
        EXPECT_EQ(before.top + 100, now.top) << id;
        EXPECT_EQ(before.right + 200, now.right) << id;
        EXPECT_EQ(before.left, now.left) << id;
    }
    // The columns follow the list's width.
    EXPECT_TRUE(ColumnsFillTheList());
    EXPECT_GT(CRemoteList(m_list).ColumnWidth(0), captionColumn);
    Screenshot(L"ConfigEditor_Resized");

    // Narrower than at start: the width goes back to the first width; the height stays.
    SetWindowPos(m_main, nullptr, 0, 0, width - 150, height + 100, SWP_NOMOVE | SWP_NOZORDER);
    RECT now = {};
    EXPECT_TRUE(WaitFor([&] {
        GetWindowRect(m_main, &now);
        return now.right - now.left == width && now.bottom - now.top == height + 100;
    })) << now.right - now.left << " x " << now.bottom - now.top;
}

// The editor's own file, edited in the editor when no other program's file is found: the
// save reads the editor's own settings again, and the running agent, whose file did not
// change, is not told to reload.
TEST_F(EditorWindow, SavingTheEditorsOwnFileTellsNoOtherProgram)
{
    const std::wstring ownFile = m_folder + L"\\KelvoAgentConfig.exe.config";
    ASSERT_NO_FATAL_FAILURE(StartAgentPeer());
    ASSERT_NO_FATAL_FAILURE(StartEditor());
    const int retention = Item(L"Log retention");
    ASSERT_GE(retention, 0) << "the editor did not show its own settings";
    EXPECT_TRUE(StatusReads(Format(IDS_EDITOR_FALLBACK_MISSING, L"KelvoAgent", m_agentFile.c_str(), L"KelvoAgentConfig",
                           ownFile.c_str())));
    ASSERT_NO_FATAL_FAILURE(EditValue(retention, L"Log retention", L"45"));

    Command(m_main, ID_CONFIG_EDITOR_SAVE);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(ownFile).find("<value>45</value>") != std::string::npos; }))
        << ReadFileBytes(ownFile);
    EXPECT_FALSE(ShownAsChanged(retention, false));
    Sleep(1000);
    EXPECT_EQ(std::string::npos, ReadFileBytes(m_record).find("reload")) << ReadFileBytes(m_record);
    EXPECT_FALSE(m_editor.WaitForExit(0)) << "the editor ended";
}
