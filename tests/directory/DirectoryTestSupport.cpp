#include "tests/directory/DirectoryTestSupport.h"
#include "common/CResourceLoader.h"
#include <objbase.h>

std::wstring StandardDirectory()
{
    // Made from the seed beside the test program at build time, as the test domain is.
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path, n);
    file = file.substr(0, file.rfind(L'\\') + 1) + L"StandardDirectory.ini";
    std::string bytes;
    if (FILE* f = _wfopen(file.c_str(), L"rb"))
    {
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof(buffer), f)) > 0;)
            bytes.append(buffer, got);
        fclose(f);
    }
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                        &text[0], static_cast<int>(text.size()))));
    return text;
}

namespace
{
// Wine answers every computer as a member of the workgroup "Workgroup", and its
// DnsHostnameToComputerNameW turns "hq.example.com" into "HQ_EXAMPLE_COM" where Windows
// gives "HQ"; the seam answers both as Windows would on a member of HQ.
BOOL JoinedToHq(CStringEx& dnsDomain, CStringEx& netbiosDomain)
{
    dnsDomain = L"hq.example.com";
    netbiosDomain = L"HQ";
    return TRUE;
}

BOOL JoinedLeavingNetBiosToWindows(CStringEx& dnsDomain, CStringEx&)
{
    dnsDomain = L"hq.example.com";
    return TRUE;
}

BOOL NotJoined(CStringEx& dnsDomain, CStringEx&)
{
    dnsDomain.Empty();
    return FALSE;
}
}

void DirectoryTest::SetUp()
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    m_comReady = true;
    CResourceLoader::Instance().Load();

    // The stand-in lives beside the test program; registering it makes it the provider
    // that ADsOpenObject finds for LDAP: and WinNT: paths.
    m_standIn = LoadLibraryW(L"KelvoAdsiSim.dll");
    ASSERT_NE(nullptr, m_standIn);
    auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(m_standIn, "DllRegisterServer")));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_EQ(S_OK, registerServer());

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"kelvo-directory-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    const std::wstring standard = StandardDirectory();
    ASSERT_FALSE(standard.empty()) << "StandardDirectory.ini is missing beside the test program";
    UseDirectory(standard);

    CADQuery::SetDomainJoinHook(&JoinedToHq);
    m_computer = CADQuery::GetComputerName().GetString();
    ASSERT_FALSE(m_computer.empty());
}

void DirectoryTest::TearDown()
{
    CADQuery::SetDomainJoinHook(nullptr);
    SetEnvironmentVariableW(L"KELVO_LDAP_SERVER", nullptr);
    if (!m_folder.empty())
    {
        for (const std::wstring& file : m_files)
            DeleteFileW(file.c_str());
        RemoveDirectoryW(m_folder.c_str());
    }
    if (m_standIn)
        FreeLibrary(m_standIn);
    if (m_comReady)
        CoUninitialize();
}

void DirectoryTest::UseDirectory(const std::wstring& text)
{
    // Each write gets a new file name so the stand-in never serves a cached older copy.
    static int generation = 0;
    const std::wstring path = m_folder + L"\\directory" + std::to_wstring(++generation) + L".ini";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string utf8(text.size() * 4, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0],
                                      static_cast<int>(utf8.size()), nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
    m_files.push_back(path);
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", path.c_str());
}

void DirectoryTest::UseTestDomain()
{
    // The session's domain controller, named by ctest for the tests that need it.
    wchar_t server[256] = {}, password[256] = {};
    GetEnvironmentVariableW(L"KELVO_TEST_DC", server, ARRAYSIZE(server));
    GetEnvironmentVariableW(L"KELVO_TEST_DC_PASSWORD", password, ARRAYSIZE(password));
    ASSERT_NE(L'\0', server[0]) << "KELVO_TEST_DC names no test domain (scripts/test-domain.sh)";
    SetEnvironmentVariableW(L"KELVO_LDAP_SERVER", server);
    SetEnvironmentVariableW(L"KELVO_LDAP_USER", L"Administrator@HQ.EXAMPLE.COM");
    SetEnvironmentVariableW(L"KELVO_LDAP_PASSWORD", password);
}

void DirectoryTest::UseWorkgroup()
{
    CADQuery::SetDomainJoinHook(&NotJoined);
}

void DirectoryTest::UseDnsNameOnlyJoin()
{
    CADQuery::SetDomainJoinHook(&JoinedLeavingNetBiosToWindows);
}

LONG DirectoryTest::DirectoryCalls() const
{
    auto count = reinterpret_cast<LONG(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(m_standIn, "KelvoAdsiSimCallCount")));
    return count ? count() : -1;
}

TraceCollector::TraceCollector()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &TraceCollector::WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KelvoDirectoryTraceCollector";
    RegisterClassW(&wc);
    m_window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TraceCollector::~TraceCollector()
{
    Pump();
    DestroyWindow(m_window);
}

void TraceCollector::Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, m_window, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

bool TraceCollector::Contains(const std::wstring& part) const
{
    for (const std::wstring& text : texts)
        if (text.find(part) != std::wstring::npos)
            return true;
    return false;
}

LRESULT CALLBACK TraceCollector::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CADQuery::WM_ADQUERY_TRACE)
    {
        auto* self = reinterpret_cast<TraceCollector*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        BSTR text = reinterpret_cast<BSTR>(lParam);
        if (self)
        {
            self->texts.emplace_back(text, SysStringLen(text));
            self->levels.push_back(wParam);
        }
        SysFreeString(text);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
