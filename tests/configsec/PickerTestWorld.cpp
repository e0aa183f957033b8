#include "tests/configsec/PickerTestWorld.h"
#include "common/CADQuery.h"
#include "common/CResourceLoader.h"
#include "configsec/ConfigSec.h"
#include "configsec/ConfigSecInstance.h"
#include "KelvoVersion.h"
#include <objbase.h>
#include <mutex>

const wchar_t kPickerCaption[] = L"Kelvo Agent Configuration";

const wchar_t kPickerDirectory[] = LR"(# Directory of the picker tests.
[domain]
dns = hq.example.com
netbios = HQ

[computer]
name = .

[user alice]
display = Alice Adams
description = Ward nurse
[user bob]
display = Bob Brown
description = Pharmacist
[user pat]
display = Pat Lee
description = Porter
[user a*b]
[user (x)]

[group Staff]
description = Nursing staff
member = alice
[group Nurses]
member = alice
[group Pat Lee]
description = Pat's team
member = pat

[local user kiosk]
)";

namespace
{
std::mutex g_boxLock;
std::vector<ConfigSecTest::Box> g_boxes;

int RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT, DWORD)
{
    std::lock_guard<std::mutex> guard(g_boxLock);
    g_boxes.push_back({ text ? text : L"", caption ? caption : L"" });
    return IDOK;
}

BOOL JoinedToHq(CStringEx& dnsDomain, CStringEx& netbiosDomain)
{
    dnsDomain = L"hq.example.com";
    netbiosDomain = L"HQ";
    return TRUE;
}

BOOL NotJoined(CStringEx& dnsDomain, CStringEx&)
{
    dnsDomain.Empty();
    return FALSE;
}
}

void ConfigSecTest::SetUp()
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    m_comReady = true;
    ASSERT_EQ(0u, CResourceLoader::Instance().Load());

    m_standIn = LoadLibraryW(L"KelvoAdsiSim.dll");
    ASSERT_NE(nullptr, m_standIn);
    auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_standIn, "DllRegisterServer")));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_EQ(S_OK, registerServer());

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"kelvo-picker-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    UseDirectory(kPickerDirectory);

    CADQuery::SetDomainJoinHook(&JoinedToHq);
    m_computer = CADQuery::GetComputerName().GetString();
    ClearBoxes();
    CResourceLoader::SetMessageBoxHook(&RecordBox);
    ASSERT_EQ(0u, ConfigSecInitInstance(CResourceLoader::Instance().GetModule(), KELVO_VERSION_TEXT, kPickerCaption,
                                        wcslen(kPickerCaption)));
}

void ConfigSecTest::TearDown()
{
    ConfigSecTermInstance();
    ConfigSecHeap::SetFailAllocations(false);
    CResourceLoader::SetMessageBoxHook(nullptr);
    CADQuery::SetDomainJoinHook(nullptr);
    // The library handed its reference back; the tests' own loader loads it again.
    CResourceLoader::Instance().Load();
    for (const std::wstring& file : m_files)
        DeleteFileW(file.c_str());
    if (!m_folder.empty())
        RemoveDirectoryW(m_folder.c_str());
    if (m_standIn)
        FreeLibrary(m_standIn);
    if (m_comReady)
        CoUninitialize();
}

void ConfigSecTest::UseDirectory(const std::wstring& text)
{
    static int generation = 0;
    const std::wstring path = m_folder + L"\\directory" + std::to_wstring(++generation) + L".ini";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string utf8(text.size() * 4 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0],
                                      static_cast<int>(utf8.size()), nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
    m_files.push_back(path);
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", path.c_str());
}

void ConfigSecTest::UseUnreachableDirectory()
{
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", (m_folder + L"\\missing.ini").c_str());
}

void ConfigSecTest::UseWorkgroup()
{
    CADQuery::SetDomainJoinHook(&NotJoined);
}

std::vector<ConfigSecTest::Box> ConfigSecTest::Boxes()
{
    std::lock_guard<std::mutex> guard(g_boxLock);
    return g_boxes;
}

void ConfigSecTest::ClearBoxes()
{
    std::lock_guard<std::mutex> guard(g_boxLock);
    g_boxes.clear();
}

std::wstring ConfigSecTest::Text(UINT id)
{
    return CResourceLoader::Instance().LoadText(id).GetString();
}
