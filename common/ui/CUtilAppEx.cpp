#include "common/ui/CUtilAppEx.h"
#include "common/CResourceLoader.h"
#include "common/ui/CDialogEx.h"
#include "common/ui/CMessageBoxEx.h"
#include "resources/ProgramStrings.h"

namespace
{
// The loader's answer for a library of another (older) release.
constexpr DWORD kOlderResourceFile = 425;

struct AppValues
{
    CStringEx name;
    CStringEx directory;
    CStringEx title;
};

AppValues& Values()
{
    static AppValues values;
    return values;
}
}

CUtilAppEx::CUtilAppEx() = default;
CUtilAppEx::~CUtilAppEx() = default;

int CUtilAppEx::Run()
{
    InitInstance();
    return ExitInstance();
}

int CUtilAppEx::ExitInstance()
{
    return m_exitCode;
}

const CStringEx& CUtilAppEx::GetAppName() { return Values().name; }
const CStringEx& CUtilAppEx::GetAppDirectory() { return Values().directory; }
const CStringEx& CUtilAppEx::GetAppTitle() { return Values().title.IsEmpty() ? Values().name : Values().title; }

void CUtilAppEx::SetAppTitle(LPCWSTR title)
{
    Values().title = title;
    CMessageBoxEx::SetDefaultCaption(title);
}

CStringEx CUtilAppEx::LoadProgramString(UINT id)
{
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? CStringEx(text, length) : CStringEx();
}

BOOL CUtilAppEx::InitResources()
{
    // The program's directory and its name without the extension.
    CStringEx directory, name;
    if (CResourceLoader::GetModulePath(directory, name, FALSE))
    {
        Values().directory = directory;
        Values().name = name;
        CMessageBoxEx::SetDefaultCaption(name);
    }

    // Without a satellite library of this release the program has no texts to run with.
    const DWORD error = CResourceLoader::Instance().Load();
    if (error != 0)
    {
        const CStringEx text = LoadProgramString(error == kOlderResourceFile ? IDS_PROG_RESOURCE_FILE_OLDER
                                                                            : IDS_PROG_NO_RESOURCE_FILE);
        ::MessageBoxW(nullptr, text, Values().name, MB_OK | MB_ICONERROR);
        return FALSE;
    }

    // Every dialog template comes from the satellite library.
    CDialogEx::SetResourceModule(CResourceLoader::Instance().GetModule());
    return TRUE;
}
