#pragma once
// Answers the message boxes of a scenario's program, as its user would. Wine's
// MessageBoxTimeoutW ignores its time-out and waits for an answer, so a scenario that leads
// the program into a box must answer it. A box is a top-level "#32770" window of the
// process with the given title (the agent titles every box with its window title) that has
// a push button and not the agent's status texts; its text is the static control 0xFFFF.
// Pressing a button posts WM_COMMAND with the button's ID and BN_CLICKED to the box, which is
// what the button itself sends when clicked (BM_CLICK needs the box to be active).
#include "common/CStringEx.h"

class CMessageBoxAnswerer
{
public:
    CMessageBoxAnswerer(DWORD processId, LPCWSTR title) : m_processId(processId), m_title(title) {}

    // Waits for a box whose text contains `textPart` (any box when null); null when none
    // appeared within the bound.
    HWND WaitForBox(DWORD boundMs, LPCWSTR textPart = nullptr);
    // The text of the box found last.
    const CStringEx& GetText() const { return m_text; }
    // Presses the button (IDOK, IDYES, IDNO...) of the box found last and waits for the box
    // to close; FALSE when it has no such button or stays open beyond the bound.
    bool Press(int buttonId, DWORD boundMs = 5000);

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM parameter);
    bool IsBox(HWND window) const;

    DWORD m_processId;
    CStringEx m_title;
    LPCWSTR m_textPart = nullptr;
    HWND m_box = nullptr;
    CStringEx m_text;
};
