#include "EditorTestSupport.h"
#include "common/CHandleEx.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include "tests/uisupport/UiScreenshot.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace editor_test
{
namespace
{
// Memory in another process, for list-view messages that carry pointers.
class CRemoteMemory
{
public:
    CRemoteMemory(HWND window, size_t size) : m_size(size)
    {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (m_process)
            m_base = static_cast<BYTE*>(VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~CRemoteMemory()
    {
        if (m_base)
            VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE);
        if (m_process)
            CloseHandle(m_process);
    }
    CRemoteMemory(const CRemoteMemory&) = delete;
    CRemoteMemory& operator=(const CRemoteMemory&) = delete;

    BYTE* At(size_t offset) const { return m_base + offset; }
    bool Write(size_t offset, const void* data, size_t size) const
    {
        return m_base && WriteProcessMemory(m_process, m_base + offset, data, size, nullptr);
    }
    bool Read(size_t offset, void* data, size_t size) const
    {
        return m_base && ReadProcessMemory(m_process, m_base + offset, data, size, nullptr);
    }
    bool IsValid() const { return m_base != nullptr; }

private:
    HANDLE m_process = nullptr;
    BYTE* m_base = nullptr;
    size_t m_size;
};

struct DialogSearch
{
    DWORD processId;
    const std::function<bool(const std::wstring&)>* titleTest;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window) || !IsWindowEnabled(window))
        return TRUE;
    wchar_t className[32] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    if (wcscmp(className, L"#32770") != 0)
        return TRUE;
    if (*search->titleTest && !(*search->titleTest)(WindowText(window)))
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context)
{
    wchar_t className[32] = {};
    GetClassNameW(child, className, ARRAYSIZE(className));
    if (_wcsicmp(className, L"Static") == 0)
    {
        const std::wstring text = WindowText(child);
        if (!text.empty())
        {
            auto* all = reinterpret_cast<std::wstring*>(context);
            if (!all->empty())
                *all += L"\n";
            *all += text;
        }
    }
    return TRUE;
}

std::atomic<unsigned> g_folderCounter{ 0 };
}

std::wstring BinFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring MakeTempFolder(const wchar_t* tag)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (;;)
    {
        wchar_t name[MAX_PATH];
        swprintf(name, MAX_PATH, L"%lsKelvoEditor-%ls-%lu-%llu-%u", temp, tag, GetCurrentProcessId(), GetTickCount64(),
                 g_folderCounter.fetch_add(1));
        if (CreateDirectoryW(name, nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

void DeleteTree(const std::wstring& folder)
{
    if (folder.empty())
        return;
    std::wstring from = folder;
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

bool CopyFromBin(const wchar_t* name, const std::wstring& folder, const wchar_t* newName)
{
    const std::wstring source = BinFolder() + L"\\" + name;
    const std::wstring target = folder + L"\\" + (newName ? newName : name);
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::wstring ResourceText(UINT id)
{
    CResourceLoader::Instance().Load();
    return CResourceLoader::Instance().LoadText(id).GetString();
}

extern const char kAgentFile[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<configuration>\r\n"
    "\t<appSettings>\r\n"
    "\t\t<add key=\"CartHardwareIds\"><value>HID\\VID_0B6A&amp;PID_0417</value></add>\r\n"
    "\t\t<add key=\"EndAccessOnLockAndExit\"><value>1</value></add>\r\n"
    "\t\t<add key=\"RetryAuthenticationStart\"><value>1</value></add>\r\n"
    "\t\t<add key=\"PromptTimeoutSeconds\"><value>20</value></add>\r\n"
    "\t</appSettings>\r\n"
    "</configuration>\r\n";

void StartAgentPeer(CProcessRun& peer, const std::wstring& folder, DWORD lifeMs, std::wstring& record)
{
    record = folder + L"\\agent-record.txt";
    ASSERT_TRUE(CopyFromBin(L"KelvoEditorTestPeer.exe", folder, L"KelvoAgent.exe"));
    ASSERT_TRUE(peer.Start(folder + L"\\KelvoAgent.exe", L"\"" + record + L"\" " + std::to_wstring(lifeMs), folder));
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(record).find("ready") != std::string::npos; }, 20000));
}

void StartEditorWindow(CProcessRun& editor, const std::wstring& folder, const std::wstring& arguments,
                       const std::wstring& caption, DWORD limitMs, HWND& main, HWND& list)
{
    ASSERT_TRUE(editor.Start(folder + L"\\KelvoAgentConfig.exe", arguments, folder));
    main = FindDialog(editor.Id(), [&](const std::wstring& title) { return title.rfind(caption, 0) == 0; }, limitMs);
    ASSERT_NE(nullptr, main) << "the editor's window did not appear";
    list = GetDlgItem(main, IDC_CONFIG_EDITOR_LIST);
    ASSERT_TRUE(WaitFor([&] { return CRemoteList(list).Count() > 0; })) << "the list stayed empty";
}

bool WaitFor(const std::function<bool()>& condition, DWORD limitMs)
{
    const ULONGLONG end = GetTickCount64() + limitMs;
    for (;;)
    {
        if (condition())
            return true;
        if (GetTickCount64() > end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(20);
    }
}

CProcessRun::~CProcessRun()
{
    Kill();
}

bool CProcessRun::Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder)
{
    Kill();
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &m_info) != FALSE;
}

bool CProcessRun::WaitForExit(DWORD limitMs, DWORD* code)
{
    if (!m_info.hProcess || WaitForSingleObject(m_info.hProcess, limitMs) != WAIT_OBJECT_0)
        return false;
    if (code)
        GetExitCodeProcess(m_info.hProcess, code);
    return true;
}

void CProcessRun::Kill()
{
    if (m_info.hProcess)
    {
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
        {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }
    m_info = {};
}

HWND FindDialog(DWORD processId, const std::function<bool(const std::wstring&)>& titleTest, DWORD limitMs)
{
    DialogSearch search{ processId, &titleTest, nullptr };
    WaitFor([&] {
        search.found = nullptr;
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, limitMs);
    return search.found;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[2048] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

bool IsEnabled(HWND window)
{
    return IsWindowEnabled(window) != FALSE;
}

bool AnswerBox(DWORD processId, const std::wstring& caption, int button, std::wstring* text, HWND except, DWORD limitMs)
{
    HWND box = nullptr;
    WaitFor([&] {
        box = FindDialog(processId, [&](const std::wstring& title) { return title == caption; }, 0);
        return box != nullptr && box != except;
    }, limitMs);
    if (box == except)
        box = nullptr;
    if (!box)
        return false;
    if (text)
    {
        text->clear();
        EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(text));
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    // The box is gone once its owner answers again.
    WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, limitMs);
    return true;
}

void Click(HWND dialog, int buttonId)
{
    PostMessageW(GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0);
}

void Command(HWND dialog, int commandId)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
}

void SetText(HWND dialog, int controlId, const std::wstring& text)
{
    SendMessageTimeoutW(GetDlgItem(dialog, controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
}

namespace
{
void SendKey(HWND foreground, WORD key, DWORD flags)
{
    // Null: to whichever window has the keyboard now (a dialog the key just opened). A window
    // in front already is not brought there again: its activation would move the focus back
    // to the control it had when it was last activated.
    if (foreground && GetForegroundWindow() != foreground)
    {
        SetForegroundWindow(foreground);
        WaitFor([&] { return GetForegroundWindow() == foreground; }, 1000);
    }
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
    Sleep(100);
}
}

void KeyDown(HWND foreground, WORD key)
{
    SendKey(foreground, key, 0);
}

void KeyUp(HWND foreground, WORD key)
{
    SendKey(foreground, key, KEYEVENTF_KEYUP);
}

void Press(HWND foreground, WORD key, WORD modifier)
{
    if (modifier)
        KeyDown(foreground, modifier);
    KeyDown(modifier ? nullptr : foreground, key);
    KeyUp(nullptr, key);
    if (modifier)
        KeyUp(nullptr, modifier);
}

void Type(HWND foreground, const std::wstring& text)
{
    if (GetForegroundWindow() != foreground)
    {
        SetForegroundWindow(foreground);
        WaitFor([&] { return GetForegroundWindow() == foreground; }, 1000);
        Sleep(100);
    }
    for (wchar_t c : text)
        for (DWORD flags : { KEYEVENTF_UNICODE, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP })
        {
            INPUT input = { INPUT_KEYBOARD, {} };
            input.ki.wScan = c;
            input.ki.dwFlags = flags;
            SendInput(1, &input, sizeof(input));
        }
    // The keys that follow wait until the text arrived where the focus is.
    WaitFor([&] { return WindowText(Focused(foreground)).find(text) != std::wstring::npos; }, 3000);
}

HWND Focused(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

bool LoadsCommonControls6(DWORD processId)
{
    const CHandleEx process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    HMODULE modules[512] = {};
    DWORD bytes = 0;
    if (!process.IsValid() || !EnumProcessModules(process.GetHandle(), modules, sizeof(modules), &bytes))
        return false;
    wchar_t path[MAX_PATH] = {};
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < ARRAYSIZE(modules); ++i)
        if (GetModuleFileNameExW(process.GetHandle(), modules[i], path, MAX_PATH) && wcsstr(CharLowerW(path), L"common-controls_6595b64144ccf1df_6."))
            return true;
    return false;
}

DWORD SetLogPixels(DWORD dpi)
{
    DWORD old = 96, size = sizeof(old);
    RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", RRF_RT_REG_DWORD, nullptr, &old, &size);
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof(dpi));
    return old;
}

void MouseClick(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
}

int CRemoteList::Count() const
{
    return static_cast<int>(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring CRemoteList::Text(int item, int column) const
{
    const size_t textChars = 512;
    CRemoteMemory memory(m_list, sizeof(LVITEMW) + textChars * sizeof(wchar_t));
    if (!memory.IsValid())
        return std::wstring();
    LVITEMW request = {};
    request.mask = LVIF_TEXT;
    request.iItem = item;
    request.iSubItem = column;
    request.pszText = reinterpret_cast<LPWSTR>(memory.At(sizeof(LVITEMW)));
    request.cchTextMax = static_cast<int>(textChars);
    memory.Write(0, &request, sizeof(request));
    const LRESULT length = SendMessageW(m_list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item),
                                        reinterpret_cast<LPARAM>(memory.At(0)));
    std::wstring text(textChars, L'\0');
    memory.Read(sizeof(LVITEMW), text.data(), textChars * sizeof(wchar_t));
    text.resize(static_cast<size_t>(length > 0 ? length : 0));
    return text;
}

std::wstring CRemoteList::Heading(int column) const
{
    const size_t textChars = 256;
    CRemoteMemory memory(m_list, sizeof(LVCOLUMNW) + textChars * sizeof(wchar_t));
    if (!memory.IsValid())
        return std::wstring();
    LVCOLUMNW request = {};
    request.mask = LVCF_TEXT;
    request.pszText = reinterpret_cast<LPWSTR>(memory.At(sizeof(LVCOLUMNW)));
    request.cchTextMax = static_cast<int>(textChars);
    memory.Write(0, &request, sizeof(request));
    if (!SendMessageW(m_list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(memory.At(0))))
        return std::wstring();
    std::wstring text(textChars, L'\0');
    memory.Read(sizeof(LVCOLUMNW), text.data(), textChars * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), textChars));
    return text;
}

int CRemoteList::ColumnWidth(int column) const
{
    return static_cast<int>(SendMessageW(m_list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

int CRemoteList::Find(const std::wstring& captionStart) const
{
    for (int item = 0; item < Count(); ++item)
        if (Text(item, 0).rfind(captionStart, 0) == 0)
            return item;
    return -1;
}

RECT CRemoteList::ItemRect(int item) const
{
    RECT rect = {};
    rect.left = LVIR_LABEL;
    CRemoteMemory memory(m_list, sizeof(RECT));
    memory.Write(0, &rect, sizeof(rect));
    SendMessageW(m_list, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory.At(0)));
    memory.Read(0, &rect, sizeof(rect));
    return rect;
}

void CRemoteList::Click(int item) const
{
    const RECT rect = ItemRect(item);
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageW(m_list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(m_list, WM_LBUTTONUP, 0, at);
}

void CRemoteList::DoubleClick(int item) const
{
    const RECT rect = ItemRect(item);
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageW(m_list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(m_list, WM_LBUTTONUP, 0, at);
    PostMessageW(m_list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(m_list, WM_LBUTTONUP, 0, at);
}

bool CaptureScreen(HWND window, CScreenImage& image)
{
    std::vector<BYTE> bytes;
    if (!kelvo_test::CaptureWindow(window, image.width, image.height, bytes))
        return false;
    // BGRA bytes are 0xAARRGGBB words; the alpha byte is dropped.
    image.pixels.resize(size_t(image.width) * image.height);
    std::memcpy(image.pixels.data(), bytes.data(), bytes.size());
    for (DWORD& pixel : image.pixels)
        pixel &= 0x00FFFFFF;
    return true;
}

std::wstring Screenshot(HWND window, const wchar_t* name)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    const std::wstring path = kelvo_test::SaveWindowScreenshot(window, name);
    std::printf("Screenshot: %s\n", Narrow(path).c_str());
    return path;
}

bool HasRedPixels(const CScreenImage& image, const RECT& area)
{
    for (int y = std::max<LONG>(area.top, 0); y < std::min<LONG>(area.bottom, image.height); ++y)
    {
        for (int x = std::max<LONG>(area.left, 0); x < std::min<LONG>(area.right, image.width); ++x)
        {
            const DWORD pixel = image.At(x, y);
            const int red = (pixel >> 16) & 0xFF, green = (pixel >> 8) & 0xFF, blue = pixel & 0xFF;
            if (red > 200 && green < 90 && blue < 90)
                return true;
        }
    }
    return false;
}
}
