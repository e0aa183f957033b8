#pragma once
#include "common/CStringEx.h"
#include <string>
#include <vector>

// The world of a sign-on test: the product stand-in registered and configured through its
// ini file in a folder of this test alone, a hidden window that records the messages the
// agent posts, the log lines handed off to this thread, and the message boxes caught at
// the resource loader's seam.
class SignOnTestWorld
{
public:
    struct Posted
    {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    struct Box
    {
        std::wstring text;
        std::wstring caption;
        UINT style;
        DWORD timeoutMs;
    };

    SignOnTestWorld();
    ~SignOnTestWorld();

    HWND Window() const { return m_window; }
    // Logs everything to this thread again, at level 5 (an agent window that loads its
    // settings switches logging to its configured level).
    void CaptureLog();
    // Writes the stand-in's configuration: lines "Key=Value" of its [SignOn] section.
    void Configure(const std::vector<std::wstring>& settings);
    // Runs the stand-in's own (un)registration, as regsvr32 would.
    HRESULT RegisterProduct();
    HRESULT UnregisterProduct();

    // Pumps this thread's messages until the window receives the message or the time is up.
    bool WaitForPosted(UINT message, DWORD timeoutMs, Posted* posted = nullptr);
    // Pumps for a while and collects everything.
    void Pump(DWORD milliseconds);
    // Messages the window received and has not yet been waited for.
    const std::vector<Posted>& PostedMessages() const;
    void ClearPosted();

    // Objects of the stand-in still alive (its own count); -1 when it cannot be asked.
    LONG LiveProductObjects() const;
    // Waits until no object of the stand-in is alive; false when some stay past the time.
    bool WaitForNoProductObjects(DWORD timeoutMs) const;

    // The stand-in's journal, one entry per received call.
    std::vector<std::wstring> Journal() const;
    // Log lines handed off so far (after a pump).
    const std::vector<std::wstring>& LogLines() const;
    const std::vector<Box>& Boxes() const;

    static std::wstring Text(UINT stringId);
    static std::wstring Formatted(UINT stringId, ...);

private:
    CStringEx m_folder;
    CStringEx m_configPath;
    CStringEx m_journalPath;
    HWND m_window = nullptr;
    HMODULE m_product = nullptr;
    bool m_comInitialized = false;
};
