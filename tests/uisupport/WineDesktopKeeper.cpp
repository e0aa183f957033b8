// WineDesktopKeeper: holds Wine's desktop for a whole test or demo session.
//
// Wine's desktop process (explorer.exe /desktop) ends a moment after the last program that
// uses the desktop has ended, and the next program that makes a window starts it again. The
// new desktop process inherits that program's standard output and error. A test runner that
// reads a test's output until it closes then waits on the desktop process, which lives as
// long as any other program (a test running beside it) uses the desktop: a test of half a
// second was measured taking 28 s, and in whole-suite runs such tests reached their time-out
// after they had passed. The session script starts this program, with its output on
// /dev/null, before any test: the desktop then stays up for the session and is never started
// with a test's output. It ends when the session's server is stopped, or after the hours given
// as its argument (default 12), so that it never outlives a forgotten session for long.
#include <windows.h>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    const unsigned long hours = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 12;
    // A hidden window makes this program a user of the desktop.
    HWND window = CreateWindowExW(0, L"STATIC", L"Kelvo desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
        return 1;
    SetTimer(window, 1, hours * 3600 * 1000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (message.message == WM_TIMER)
            break;
        DispatchMessageW(&message);
    }
    DestroyWindow(window);
    return 0;
}
