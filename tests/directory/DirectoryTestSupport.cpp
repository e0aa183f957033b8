#include "tests/directory/DirectoryTestSupport.h"
#include "common/CResourceLoader.h"
#include <objbase.h>

const wchar_t kStandardDirectory[] = LR"(# Directory of the membership tests.
[domain]
dns = hq.example.com
netbios = HQ

[computer]
name = .

[user alice]
display = Alice Adams
description = Ward nurse
[user bob]
[user carol]
[user dave]
[user eve]
[user frank]
[user *]
[user back\slash]
[user Ward Desk]

[group Staff]
description = Nursing staff
member = alice
[group Operators]
member = bob
[group Outer]
member = Middle
[group Middle]
member = Inner
[group Inner]
member = carol
[group CycleA]
member = CycleB
[group CycleB]
member = CycleA
member = frank
[group Domain Admins]
member = dave
[group Star Group]
member = *
[group Ops (HQ)]
member = eve
[group Backslashers]
member = back\slash

[local user kiosk]
[local user helper]
[local user alice]
[local group Administrators]
member = kiosk
member = HQ\Domain Admins
member = Helpers
[local group Helpers]
member = HelperTeam
[local group HelperTeam]
member = helper
[local group Cart Users]
member = kiosk
member = HQ\alice
[local group Ward Desk]
member = HQ\alice
[local group LoopA]
member = LoopB
[local group LoopB]
member = LoopA
)";

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
    UseDirectory(kStandardDirectory);

    CADQuery::SetDomainJoinHook(&JoinedToHq);
    m_computer = CADQuery::GetComputerName().GetString();
    ASSERT_FALSE(m_computer.empty());
}

void DirectoryTest::TearDown()
{
    CADQuery::SetDomainJoinHook(nullptr);
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
