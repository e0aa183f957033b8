#pragma once
#include <windows.h>

// Watches the messages the thread takes from its queue while a value editor runs, and
// tells whether the last key or button pressed inside the editor was Enter. The editor's
// list uses it to ignore the key-up of an Enter that closed the editor. One watch per
// thread runs at a time (a value editor is modal).
class CEnterKeyWatch
{
public:
    CEnterKeyWatch() = default;
    ~CEnterKeyWatch() { Stop(); }
    CEnterKeyWatch(const CEnterKeyWatch&) = delete;
    CEnterKeyWatch& operator=(const CEnterKeyWatch&) = delete;

    // Starts watching the dialog and its controls.
    void Start(HWND dialog);
    void Stop();
    bool EnterWasLast() const noexcept { return m_enterWasLast; }

private:
    static LRESULT CALLBACK GetMessageProc(int code, WPARAM wParam, LPARAM lParam);
    void Note(const MSG& msg);

    HWND m_dialog = nullptr;
    HHOOK m_hook = nullptr;
    bool m_enterWasLast = false;
};
