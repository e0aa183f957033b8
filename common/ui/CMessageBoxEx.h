#pragma once
#include <windows.h>

// CMessageBoxEx: the programs' message box with a time-out. Every box is topmost and titled
// with the given caption or, when none is given, the default caption (the application
// title). With a time-out the box answers kTimedOut when nobody pressed a button in time:
// MessageBoxTimeoutW closes it where the system honours the time-out, and the box closes
// itself shortly after the time-out where the system does not (Wine shows such boxes until
// a button is pressed), so no box with a time-out can hold a program forever.
class CMessageBoxEx
{
public:
    // The answer of a box that timed out (IDTIMEOUT).
    static constexpr int kTimedOut = 32000;

    static int Show(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs);
    // Loads the text by string ID first (a failed load logs "String (%d) failed to load.").
    // Goes through CResourceLoader::MessageBoxRes, so its test hook sees these boxes too.
    static int ShowRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs);

    // The caption of boxes shown without one; the program sets its application title here.
    static void SetDefaultCaption(LPCWSTR caption);
    static LPCWSTR GetDefaultCaption();
};
