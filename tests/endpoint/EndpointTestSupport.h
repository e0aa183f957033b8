#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace endpoint_test
{
// The four places the product searches for the Citrix library, in its search order.
std::wstring CitrixPlace(int index);
constexpr int CitrixPlaceCount = 4;

// Copies the stand-in Citrix library to the given places (indexes into CitrixPlace) and
// removes it from every place again when it goes. Places left over by an earlier run are
// cleared first.
class CitrixPlacement
{
public:
    // partial: the build that lacks most entry points.
    explicit CitrixPlacement(const std::vector<int>& places, bool partial = false);
    ~CitrixPlacement();
    CitrixPlacement(const CitrixPlacement&) = delete;
    CitrixPlacement& operator=(const CitrixPlacement&) = delete;
    static void RemoveAll();
};

// The endpoint the stand-in plays: a key=value file in a folder of its own, named to the
// stand-in through KELVO_CITRIX_ENDPOINT, with a trace file beside it.
class EndpointConfig
{
public:
    EndpointConfig();
    ~EndpointConfig();
    EndpointConfig(const EndpointConfig&) = delete;
    EndpointConfig& operator=(const EndpointConfig&) = delete;

    // Replaces the file with these lines; a Trace line is added.
    void Write(const std::vector<std::string>& lines);
    // The trace lines so far.
    std::vector<std::string> Trace() const;
    // Trace lines that start with prefix.
    int Count(const std::string& prefix) const;
    // Every block the stand-in allocated was freed.
    bool AllocationsFreed() const;

private:
    std::wstring m_folder;
    std::wstring m_file;
    std::wstring m_trace;
};

// Makes every session look remote (process in session 2, console in session 1), or restores
// the real answers.
void SimulateRemoteSession(bool remote);

// A message-only window that collects the channel's notifications.
class NotificationWindow
{
public:
    NotificationWindow();
    ~NotificationWindow();
    NotificationWindow(const NotificationWindow&) = delete;
    NotificationWindow& operator=(const NotificationWindow&) = delete;

    HWND Handle() const { return m_window; }
    // Waits for the next notification; false when none came within timeoutMs.
    bool Wait(DWORD timeoutMs, WPARAM* type, LPARAM* value);

private:
    HWND m_window = nullptr;
};

long long ElapsedMs(ULONGLONG startTick);
}
