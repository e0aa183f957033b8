#include "tests/configsec/PickerTestWorld.h"
#include "common/CResourceLoader.h"
#include "configsec/ConfigSec.h"
#include "configsec/ConfigSecInstance.h"
#include "KelvoVersion.h"
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
}

void ConfigSecTest::SetUp()
{
    DirectoryTest::SetUp();
    if (HasFatalFailure())
        return;
    UseDirectory(kPickerDirectory);
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
    // The library handed its reference to the resource library back; the tests' own
    // loader (the same one, linked in) loads it again.
    CResourceLoader::Instance().Load();
    DirectoryTest::TearDown();
}

void ConfigSecTest::UseUnreachableDirectory()
{
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", (m_folder + L"\\missing.ini").c_str());
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
