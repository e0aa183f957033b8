#include "tests/signon/SignOnTestWorld.h"
#include "common/CComPtrEx.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include <gtest/gtest.h>
#include <cstdarg>

namespace
{
constexpr wchar_t kWindowClass[] = L"KelvoSignOnTestWindow";

// One world at a time per test process: the window procedure and the hook reach it here.
std::vector<SignOnTestWorld::Posted> g_posted;
std::vector<SignOnTestWorld::Box> g_boxes;
std::vector<std::wstring> g_logLines;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER && message < 0x8000)
    {
        g_posted.push_back({message, wParam, lParam});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    g_boxes.push_back({text ? text : L"", caption ? caption : L"", style, timeoutMs});
    return IDOK;
}

void Dispatch(const MSG& msg)
{
    if (msg.hwnd == nullptr && msg.message == CUtilLogging::kHandOffMessage)
    {
        // The logger hands each line over as two BSTRs this thread now owns.
        CBstrEx prefix, text;
        prefix.Attach(reinterpret_cast<BSTR>(msg.wParam));
        text.Attach(reinterpret_cast<BSTR>(msg.lParam));
        g_logLines.emplace_back(text.Text());
        return;
    }
    DispatchMessageW(&msg);
}

template <class TDone>
bool PumpUntil(DWORD timeoutMs, TDone done)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            Dispatch(msg);
            if (done())
                return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

std::wstring Widen(const std::string& bytes)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return text;
}
}

SignOnTestWorld::SignOnTestWorld()
{
    g_posted.clear();
    g_boxes.clear();
    g_logLines.clear();

    m_comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CResourceLoader::Instance().Load();
    CResourceLoader::SetMessageBoxHook(&RecordBox);

    CaptureLog();

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_folder.Format(L"%sKelvoSignOnTest-%lu-%llu", temp, GetCurrentProcessId(), GetTickCount64());
    CreateDirectoryW(m_folder, nullptr);
    m_configPath.Format(L"%s\\signon.ini", m_folder.GetString());
    m_journalPath.Format(L"%s\\journal.log", m_folder.GetString());
    SetEnvironmentVariableW(L"KELVO_SIGNON_SIM_CONFIG", m_configPath);
    Configure({});

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    m_window = CreateWindowExW(0, kWindowClass, L"Kelvo sign-on test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);

    m_product = LoadLibraryW(L"KelvoSignOnSim.dll");
    EXPECT_NE(m_product, nullptr) << "the stand-in must sit beside the tests";
    EXPECT_EQ(RegisterProduct(), S_OK);
}

SignOnTestWorld::~SignOnTestWorld()
{
    CUtilLogging::Instance().SetHandOffThread(0);
    CResourceLoader::SetMessageBoxHook(nullptr);
    if (m_window)
        DestroyWindow(m_window);
    // Drop handed-off lines still queued: they own their strings.
    Pump(0);
    DeleteFileW(m_configPath);
    DeleteFileW(m_journalPath);
    RemoveDirectoryW(m_folder);
    SetEnvironmentVariableW(L"KELVO_SIGNON_SIM_CONFIG", nullptr);
    if (m_comInitialized)
        CoUninitialize();
}

void SignOnTestWorld::CaptureLog()
{
    // Every line the agent logs comes to this thread instead of a file.
    CStringEx prefix;
    prefix.Format(L"SignOnTests%lu", GetCurrentProcessId());
    CUtilLogging::Instance().Initialize(5, 0, prefix, FOLDERID_LocalAppData);
    CUtilLogging::Instance().SetHandOffThread(GetCurrentThreadId());
}

void SignOnTestWorld::Configure(const std::vector<std::wstring>& settings)
{
    std::wstring text = L"[SignOn]\r\nJournal=" + std::wstring(m_journalPath.GetString()) + L"\r\n";
    for (const std::wstring& line : settings)
        text += line + L"\r\n";
    // The ini file is written as UTF-16 with a byte order mark so that texts keep every character.
    CFileHandleEx file(CreateFileW(m_configPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    const wchar_t bom = 0xFEFF;
    DWORD written = 0;
    WriteFile(file.Get(), &bom, sizeof(bom), &written, nullptr);
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

HRESULT SignOnTestWorld::RegisterProduct()
{
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_product, "DllRegisterServer")));
    return entry ? entry() : HRESULT_FROM_WIN32(GetLastError());
}

LONG SignOnTestWorld::LiveProductObjects() const
{
    using Entry = LONG(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_product, "KelvoSignOnSimLiveObjects")));
    return entry ? entry() : -1;
}

bool SignOnTestWorld::WaitForNoProductObjects(DWORD timeoutMs) const
{
    // The stand-in's report thread lets go of its references just before it ends.
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; LiveProductObjects() != 0; Sleep(20))
        if (GetTickCount64() > end)
            return false;
    return true;
}

HRESULT SignOnTestWorld::UnregisterProduct()
{
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_product, "DllUnregisterServer")));
    return entry ? entry() : HRESULT_FROM_WIN32(GetLastError());
}

bool SignOnTestWorld::WaitForPosted(UINT message, DWORD timeoutMs, Posted* posted)
{
    auto find = [message] {
        for (size_t i = 0; i < g_posted.size(); ++i)
            if (g_posted[i].message == message)
                return static_cast<int>(i);
        return -1;
    };
    if (!PumpUntil(timeoutMs, [&] { return find() >= 0; }))
        return false;
    const int index = find();
    if (posted)
        *posted = g_posted[static_cast<size_t>(index)];
    g_posted.erase(g_posted.begin() + index);
    return true;
}

void SignOnTestWorld::Pump(DWORD milliseconds)
{
    PumpUntil(milliseconds, [] { return false; });
}

const std::vector<SignOnTestWorld::Posted>& SignOnTestWorld::PostedMessages() const
{
    return g_posted;
}

void SignOnTestWorld::ClearPosted()
{
    g_posted.clear();
}

std::vector<std::wstring> SignOnTestWorld::Journal() const
{
    std::vector<std::wstring> lines;
    CFileHandleEx file(CreateFileW(m_journalPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return lines;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    const std::wstring text = Widen(bytes);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

const std::vector<std::wstring>& SignOnTestWorld::LogLines() const
{
    return g_logLines;
}

const std::vector<SignOnTestWorld::Box>& SignOnTestWorld::Boxes() const
{
    return g_boxes;
}

std::wstring SignOnTestWorld::Text(UINT stringId)
{
    CStringEx text;
    CResourceLoader::Instance().LoadString(stringId, text);
    return text.GetString();
}

std::wstring SignOnTestWorld::Formatted(UINT stringId, ...)
{
    CStringEx format, text;
    CResourceLoader::Instance().LoadString(stringId, format);
    va_list args;
    va_start(args, stringId);
    text.FormatV(format, args);
    va_end(args);
    return text.GetString();
}
