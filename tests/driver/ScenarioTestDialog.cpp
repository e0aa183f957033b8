// ScenarioTestDialog: a small stand-in for the agent's window, for the scenario driver's own
// tests. A never-shown "#32770" dialog with the agent's three status texts that finds the
// cart through the HID stand-ins and follows device broadcasts with the cart link's own
// code, as the agent does:
//   1015 connected (the cart link's current device), 1005 1 while the session is not locked,
//   1004 the answer of the last message box.
// Posted WM_COMMAND 100 asks a Yes/No question in a message box. WM_USER+11 ends it with 0,
// unless --ignore-close was given.
//   ScenarioTestDialog --title <text> --hwid <hardware ID> [--ignore-close yes]
#include "cartlink/CKelvoUSBComm.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include <commctrl.h>
#include <wtsapi32.h>
#include <vector>

namespace
{
constexpr int kConnected = 1015;
constexpr int kSessionHere = 1005;
constexpr int kLastAnswer = 1004;
constexpr int kAskCommand = 100;
constexpr UINT kCloseMessage = WM_USER + 11;

CStringEx g_title;
int g_sessionHere = 1;
int g_lastAnswer = 0;
bool g_ignoreClose = false;

void Refresh(HWND dialog)
{
    SetDlgItemInt(dialog, kConnected, CCartUSBComm::GetDevicePath().IsEmpty() ? 0 : 1, TRUE);
    SetDlgItemInt(dialog, kSessionHere, g_sessionHere, TRUE);
    SetDlgItemInt(dialog, kLastAnswer, g_lastAnswer, TRUE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        SetWindowTextW(dialog, g_title);
        MakeObjectEx<CKelvoUSBComm>()->FindDevice();
        Refresh(dialog);
        return TRUE;
    case WM_DEVICECHANGE:
        CKelvoUSBComm::OnDeviceChange(wParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
        Refresh(dialog);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_SESSION_LOCK || wParam == WTS_SESSION_UNLOCK)
            g_sessionHere = wParam == WTS_SESSION_UNLOCK ? 1 : 0;
        Refresh(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == kAskCommand)
        {
            g_lastAnswer = MessageBoxW(dialog, L"Bind the cart to this computer?", g_title, MB_YESNO | MB_TOPMOST);
            Refresh(dialog);
        }
        return TRUE;
    case kCloseMessage:
        if (!g_ignoreClose)
            EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

// Appends a 16-bit word, or a UTF-16 text with its terminator, to a dialog template.
void Put(std::vector<WORD>& out, WORD value) { out.push_back(value); }
void PutText(std::vector<WORD>& out, const wchar_t* text)
{
    do
        out.push_back(static_cast<WORD>(*text));
    while (*text++);
}
void Align(std::vector<WORD>& out)
{
    if (out.size() % 2)
        out.push_back(0);
}

void PutControl(std::vector<WORD>& out, int id, short y)
{
    Align(out);
    const DLGITEMTEMPLATE item = {WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 5, y, 40, 10, static_cast<WORD>(id)};
    const WORD* words = reinterpret_cast<const WORD*>(&item);
    out.insert(out.end(), words, words + sizeof(item) / sizeof(WORD));
    Put(out, 0xFFFF);
    Put(out, 0x0082);  // static
    PutText(out, L"-1");
    Put(out, 0);       // no creation data
}

std::vector<WORD> Template()
{
    std::vector<WORD> out;
    const DLGTEMPLATE dialog = {WS_POPUP | WS_CAPTION | DS_SETFONT, 0, 3, 0, 0, 120, 50};
    const WORD* words = reinterpret_cast<const WORD*>(&dialog);
    out.insert(out.end(), words, words + sizeof(dialog) / sizeof(WORD));
    Put(out, 0);   // no menu
    Put(out, 0);   // the standard dialog class
    PutText(out, L""); // title set at WM_INITDIALOG
    Put(out, 8);
    PutText(out, L"MS Shell Dlg");
    PutControl(out, kConnected, 5);
    PutControl(out, kSessionHere, 18);
    PutControl(out, kLastAnswer, 31);
    return out;
}
}

DWORD WINAPI IdleThread(LPVOID)
{
    Sleep(INFINITE);
    return 0;
}

DWORD WINAPI EndedThread(LPVOID)
{
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    CStringEx hardwareId;
    int idleThreads = 0;
    int endedThreads = 0;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (wcscmp(argv[i], L"--title") == 0)
            g_title = argv[i + 1];
        else if (wcscmp(argv[i], L"--hwid") == 0)
            hardwareId = argv[i + 1];
        else if (wcscmp(argv[i], L"--ignore-close") == 0)
            g_ignoreClose = true;
        else if (wcscmp(argv[i], L"--threads") == 0)
            idleThreads = _wtoi(argv[i + 1]);
        else if (wcscmp(argv[i], L"--ended-threads") == 0)
            endedThreads = _wtoi(argv[i + 1]);
    }
    LocalFree(argv);
    // Threads that only wait, for the memory baseline: what a thread of its own costs.
    for (int i = 0; i < idleThreads; ++i)
    {
        // Only the thread is wanted, not its handle.
        const CKernelHandleEx thread(CreateThread(nullptr, 256 * 1024, IdleThread, nullptr,
                                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
    // Threads that have ended, as the agent's log cleanup does after its pass.
    for (int i = 0; i < endedThreads; ++i)
    {
        const CKernelHandleEx thread(CreateThread(nullptr, 256 * 1024, EndedThread, nullptr,
                                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (thread)
            WaitForSingleObject(thread.Get(), INFINITE);
    }
    if (g_title.IsEmpty() || CResourceLoader::Instance().Load() != 0)
        return 2;
    CKelvoUSBComm::LoadSupportedDevices({hardwareId});
    const std::vector<WORD> dialog = Template();
    return static_cast<int>(DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(dialog.data()),
                                                    nullptr, DialogProc, 0));
}
