// An agent that does not end when told: it holds the agent's single-instance mutex and
// shows a hidden "#32770" window with the agent's title, as the agent does, but either
// ignores the close message (--ignore-close) or stops serving its messages altogether
// (--hung). The tests copy it in as KelvoAgent.exe and stop it with the real program's stop
// switch. It ends by itself after 60 s, so it never outlives a test run.
#include <windows.h>
#include <shellapi.h>
#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool hung = false;
    const wchar_t* title = L"Kelvo Cart Agent";
    for (int i = 1; argv && i < argc; ++i)
    {
        if (wcscmp(argv[i], L"--hung") == 0)
            hung = true;
        else if (wcscmp(argv[i], L"--title") == 0 && i + 1 < argc)
            title = argv[++i];
    }

    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"KelvoAgentAppA41D09E5B7C2");
    // The system dialog class answers every message it does not know, the close included,
    // with its default.
    HWND window = CreateWindowExW(0, MAKEINTATOM(0x8002), title, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window)
        return 2;

    const ULONGLONG end = GetTickCount64() + 60000;
    if (hung)
    {
        // Never looks at its queue again: a plain SendMessage to it never returns.
        Sleep(60000);
    }
    else
    {
        SetTimer(nullptr, 0, 200, nullptr);
        MSG msg;
        while (GetTickCount64() < end && GetMessageW(&msg, nullptr, 0, 0) > 0)
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DestroyWindow(window);
    if (mutex)
        CloseHandle(mutex);
    LocalFree(argv);
    return 3;
}
