#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Drives the dialogs of a UI thread from a second thread by messages, as a user would,
// with a bound on every wait. A script returns an empty text when it went as expected, or
// what went wrong; when it fails, every dialog of the UI thread is cancelled so the UI
// thread's modal run returns.
class DialogDriver
{
public:
    explicit DialogDriver(DWORD uiThread) : m_uiThread(uiThread) {}

    // Runs the script on a new thread while `ui` runs on this one; answers the script's
    // verdict ("" on success).
    static std::wstring Run(const std::function<std::wstring(DialogDriver&)>& script, const std::function<void()>& ui);

    // A visible dialog (or message box) of the UI thread with this caption; null when none
    // appears within the time.
    HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs = 8000) const;
    // True when the window is gone (or hidden) within the time.
    static bool WaitGone(HWND window, DWORD timeoutMs = 8000);
    // Waits until the condition holds; false at the time-out.
    static bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 8000);
    // Every visible dialog of the UI thread.
    std::vector<HWND> Dialogs() const;
    void CancelAll() const;

    // Presses a button (posted, so a dialog it opens does not block the driver).
    static void Click(HWND dialog, int id);
    static void SetText(HWND dialog, int id, const std::wstring& text);
    static std::wstring GetText(HWND dialog, int id);
    static std::vector<std::wstring> ListTexts(HWND list, int column = 0);
    static void SelectRow(HWND list, int row);
    static void CheckRow(HWND list, int row, bool checked = true);
    static bool IsEnabled(HWND dialog, int id);
    static LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    DWORD m_uiThread;
};
