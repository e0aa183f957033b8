#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// What the editor tests share: folders of their own, programs started for a test, and a
// driver that works the editor's windows from outside as a user would (reading what they
// show, clicking, typing, answering message boxes).
namespace editor_test
{
// The folder of the running test program (the build's bin folder).
std::wstring BinFolder();
// A new empty folder below the temporary folder, named after the tag and unique.
std::wstring MakeTempFolder(const wchar_t* tag);
void DeleteTree(const std::wstring& folder);
bool CopyFromBin(const wchar_t* name, const std::wstring& folder, const wchar_t* newName = nullptr);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::string Narrow(const std::wstring& text);
// A text of the release's resource library (the test program loads it at start).
std::wstring ResourceText(UINT id);

// An agent's file with four of its settings, as the editor tests start from.
extern const char kAgentFile[];

// Waits until the condition holds, up to limitMs; pumps this thread's messages meanwhile.
bool WaitFor(const std::function<bool()>& condition, DWORD limitMs = 5000);

// A program started for a test; terminated when the object goes, so no test leaves one.
class CProcessRun
{
public:
    CProcessRun() = default;
    ~CProcessRun();
    CProcessRun(const CProcessRun&) = delete;
    CProcessRun& operator=(const CProcessRun&) = delete;

    bool Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder);
    DWORD Id() const { return m_info.dwProcessId; }
    // True when the program ended within the time; its exit code in code.
    bool WaitForExit(DWORD limitMs, DWORD* code = nullptr);
    void Kill();

private:
    PROCESS_INFORMATION m_info = {};
};

// The visible, enabled top-level dialog window ("#32770") of the process whose title passes
// the test (any title when null), waiting up to limitMs. Null when none appeared.
HWND FindDialog(DWORD processId, const std::function<bool(const std::wstring& title)>& titleTest, DWORD limitMs = 5000);
std::wstring WindowText(HWND window);
bool IsEnabled(HWND window);

// A message box (or any dialog but the one excepted) of the process titled caption: its
// text, answered by pressing the button with that ID. False when none appeared in time.
bool AnswerBox(DWORD processId, const std::wstring& caption, int button, std::wstring* text = nullptr,
               HWND except = nullptr, DWORD limitMs = 5000);

// Presses a button of a dialog in another process without waiting for what it starts.
void Click(HWND dialog, int buttonId);
// Sends a command (a menu item or button ID) without waiting for what it starts.
void Command(HWND dialog, int commandId);
void SetText(HWND dialog, int controlId, const std::wstring& text);
// Brings the window to the front and presses or releases a key on the keyboard, as a user
// does (the window with the keyboard focus receives it and the key's state follows it).
void KeyDown(HWND foreground, WORD key);
void KeyUp(HWND foreground, WORD key);
// A key pressed and released (with the modifier held around it when given); text typed.
void Press(HWND foreground, WORD key, WORD modifier = 0);
void Type(HWND foreground, const std::wstring& text);
// The control with the keyboard focus in the window's thread (null when none).
HWND Focused(HWND window);
// Whether the process runs with the common controls of version 6 (the side-by-side
// comctl32.dll its manifest asks for, not the system folder's version 5).
bool LoadsCommonControls6(DWORD processId);
// Sets the DPI the programs started from now on take at their start (Wine reads LogPixels
// under HKCU\Control Panel\Desktop once per process); answers the value it replaced.
DWORD SetLogPixels(DWORD dpi);
// Moves the mouse to the middle of the window and clicks its left button, as a user does:
// the system decides who gets the click (nobody, when the window or its owner is disabled).
void MouseClick(HWND window);

// Starts the stand-in agent (KelvoEditorTestPeer.exe as KelvoAgent.exe) in the folder for
// lifeMs at the most and waits until it is ready; record is the file of the reload notices
// it receives.
void StartAgentPeer(CProcessRun& peer, const std::wstring& folder, DWORD lifeMs, std::wstring& record);
// Starts KelvoAgentConfig.exe of the folder and waits, up to limitMs, for its main window
// (titled caption) and for its list to fill.
void StartEditorWindow(CProcessRun& editor, const std::wstring& folder, const std::wstring& arguments,
                       const std::wstring& caption, DWORD limitMs, HWND& main, HWND& list);

// A report-view list control of another process.
class CRemoteList
{
public:
    explicit CRemoteList(HWND list) : m_list(list) {}
    int Count() const;
    std::wstring Text(int item, int column) const;
    std::wstring Heading(int column) const;
    int ColumnWidth(int column) const;
    // The item whose first column begins with the text, or -1.
    int Find(const std::wstring& captionStart) const;
    RECT ItemRect(int item) const;
    // A click or a double click on the item with the mouse, as a user makes it.
    void Click(int item) const;
    void DoubleClick(int item) const;

private:
    HWND m_list;
};

// The window's pixels as shown on the screen, top-down, 0x00RRGGBB each.
struct CScreenImage
{
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
bool CaptureScreen(HWND window, CScreenImage& image);
// A PNG of the window, once it has repainted, in the build's screenshot folder; its path is
// printed for the person who reads the test output.
std::wstring Screenshot(HWND window, const wchar_t* name);
// Whether a pure red pixel (the editor's colour for changed values) lies in the rectangle
// (window coordinates of the image).
bool HasRedPixels(const CScreenImage& image, const RECT& area);
}
