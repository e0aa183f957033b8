#include "EndpointTestSupport.h"
#include "cartlink/CEndpointSession.h"
#include "cartlink/CVirtualChannelImpl.h"
#include <shlobj.h>
#include <atomic>
#include <cstring>
#include <stdexcept>

namespace endpoint_test
{
namespace
{
std::wstring KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring StandInPath(bool partial)
{
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder.resize(folder.find_last_of(L'\\'));
    return folder + (partial ? L"\\citrix-partial\\wfapi64.dll" : L"\\citrix\\wfapi64.dll");
}

std::string ReadFileText(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w)
        s += static_cast<char>(c);
    return s;
}

BOOL RemoteSessionIds(DWORD* processSession, DWORD* consoleSession)
{
    *processSession = 2;
    *consoleSession = 1;
    return TRUE;
}
}

std::wstring CitrixPlace(int index)
{
    static const std::wstring programFiles64 = KnownFolder(FOLDERID_ProgramFilesX64);
    static const std::wstring programFiles32 = KnownFolder(FOLDERID_ProgramFilesX86);
    switch (index)
    {
    case 0: return programFiles64 + L"\\Citrix\\system32\\wfapi64.dll";
    case 1: return programFiles32 + L"\\Citrix\\system32\\wfapi64.dll";
    case 2: return programFiles32 + L"\\Citrix\\ICAService\\wfapi64.dll";
    default: return programFiles64 + L"\\Citrix\\ICAService\\wfapi64.dll";
    }
}

CitrixPlacement::CitrixPlacement(const std::vector<int>& places, bool partial)
{
    RemoveAll();
    for (int index : places)
    {
        const std::wstring target = CitrixPlace(index);
        const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        if (!CopyFileW(StandInPath(partial).c_str(), target.c_str(), FALSE))
            throw std::runtime_error("cannot place the Citrix stand-in at " + Narrow(target));
    }
}

CitrixPlacement::~CitrixPlacement()
{
    RemoveAll();
}

void CitrixPlacement::RemoveAll()
{
    for (int i = 0; i < CitrixPlaceCount; ++i)
        DeleteFileW(CitrixPlace(i).c_str());
}

EndpointConfig::EndpointConfig()
{
    static std::atomic<int> counter{ 0 };
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"kelvo-endpoint-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(m_folder.c_str(), nullptr);
    m_file = m_folder + L"\\endpoint.ini";
    m_trace = m_folder + L"\\trace.txt";
    SetEnvironmentVariableW(L"KELVO_CITRIX_ENDPOINT", m_file.c_str());
    Write({});
}

EndpointConfig::~EndpointConfig()
{
    SetEnvironmentVariableW(L"KELVO_CITRIX_ENDPOINT", nullptr);
    DeleteFileW(m_file.c_str());
    DeleteFileW(m_trace.c_str());
    RemoveDirectoryW(m_folder.c_str());
}

void EndpointConfig::Write(const std::vector<std::string>& lines)
{
    std::string text = "Trace=" + Narrow(m_trace) + "\r\n";
    for (const auto& line : lines)
        text += line + "\r\n";
    HANDLE file = CreateFileW(m_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot write the endpoint file");
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::string> EndpointConfig::Trace() const
{
    std::vector<std::string> lines;
    const std::string text = ReadFileText(m_trace);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int EndpointConfig::Count(const std::string& prefix) const
{
    int n = 0;
    for (const auto& line : Trace())
        if (line.compare(0, prefix.size(), prefix) == 0)
            ++n;
    return n;
}

bool EndpointConfig::AllocationsFreed() const
{
    std::vector<std::string> open;
    for (const auto& line : Trace())
    {
        if (line.compare(0, 10, "Allocated ") == 0)
            open.push_back(line.substr(10));
        else if (line.compare(0, 5, "Free ") == 0)
        {
            for (auto it = open.begin(); it != open.end(); ++it)
                if (*it == line.substr(5))
                {
                    open.erase(it);
                    break;
                }
        }
    }
    return open.empty();
}

void SimulateRemoteSession(bool remote)
{
    CEndpointSession::SetSessionIdHook(remote ? &RemoteSessionIds : nullptr);
}

NotificationWindow::NotificationWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KelvoEndpointTestWindow";
    RegisterClassW(&wc);
    m_window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (m_window == nullptr)
        throw std::runtime_error("cannot create the notification window");
}

NotificationWindow::~NotificationWindow()
{
    DestroyWindow(m_window);
}

bool NotificationWindow::Wait(DWORD timeoutMs, WPARAM* type, LPARAM* value)
{
    const ULONGLONG start = GetTickCount64();
    for (;;)
    {
        MSG msg;
        if (PeekMessageW(&msg, m_window, WM_AGENT_CHANNEL_DATA, WM_AGENT_CHANNEL_DATA, PM_REMOVE))
        {
            *type = msg.wParam;
            *value = msg.lParam;
            return true;
        }
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs - spent), QS_POSTMESSAGE);
    }
}

long long ElapsedMs(ULONGLONG startTick)
{
    return static_cast<long long>(GetTickCount64() - startTick);
}
}
