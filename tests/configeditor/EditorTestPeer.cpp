// A stand-in for a running desktop program the editor tells to reload its settings: a
// top-level dialog window ("#32770") that appends one line to a record file for each reload
// message it receives. The tests copy it under the name of the program they play (for
// example KelvoAgent.exe).
//
//   KelvoEditorTestPeer.exe <record file> <lifetime in ms>
//
// The program writes "ready" when its window exists, "reload" for each message, and ends on
// WM_CLOSE or when its lifetime is over, so it never outlives a test run.
#include <windows.h>
#include <shellapi.h>
#include <cstdio>
#include <cstdlib>

namespace
{
const UINT kReloadMessage = WM_USER + 13;
const UINT_PTR kLifetimeTimer = 1;
const wchar_t* g_record = nullptr;

void Record(const char* line)
{
    FILE* file = _wfopen(g_record, L"ab");
    if (!file)
        return;
    fprintf(file, "%s\n", line);
    fclose(file);
}

INT_PTR CALLBACK PeerProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
        return TRUE;
    case kReloadMessage:
        Record("reload");
        return TRUE;
    case WM_TIMER:
        if (wParam == kLifetimeTimer)
            DestroyWindow(window);
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3)
        return 2;
    g_record = arguments[1];
    const UINT lifetime = static_cast<UINT>(_wtoi(arguments[2]));

    // A window of the system's dialog class, served by the peer's dialog procedure.
    HWND window = CreateWindowExW(0, L"#32770", L"Kelvo editor test peer", WS_POPUP | WS_CAPTION, 0, 0, 200, 60,
                                  nullptr, nullptr, instance, nullptr);
    if (window)
        SetWindowLongPtrW(window, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&PeerProc));
    if (!window)
        return 3;
    SetTimer(window, kLifetimeTimer, lifetime, nullptr);
    Record("ready");

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
