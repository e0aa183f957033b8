// Provisional implementation: replaced by the full loader (search order, version rule).
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"

CResourceLoader& CResourceLoader::Instance()
{
    static CResourceLoader loader;
    return loader;
}

static HMODULE g_module;

DWORD CResourceLoader::Load()
{
    if (g_module)
        return 0;
    CStringEx folder, name;
    if (!GetModulePath(folder, name, FALSE))
        return ERROR_FILE_NOT_FOUND;
    CStringEx path;
    path.Format(L"%s\\%s.dll", folder.GetString(), L"KVResource");
    g_module = LoadLibraryW(path);
    return g_module ? 0 : ERROR_FILE_NOT_FOUND;
}

HMODULE CResourceLoader::GetModule() const
{
    return g_module;
}

BOOL CResourceLoader::LoadString(UINT id, CStringEx& text, BOOL* failed)
{
    const wchar_t* p = nullptr;
    int n = ::LoadStringW(g_module ? g_module : GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&p), 0);
    if (n > 0)
    {
        text = CStringEx(p, n);
        if (failed)
            *failed = FALSE;
        return TRUE;
    }
    text.Format(L"String (%d) failed to load.", id);
    if (failed)
        *failed = TRUE;
    return FALSE;
}

void CResourceLoader::FormatString(CStringEx& text, UINT id, ...)
{
    CStringEx format;
    if (!LoadString(id, format))
    {
        text = format;
        return;
    }
    va_list args;
    va_start(args, id);
    text.FormatV(format, args);
    va_end(args);
}

static CResourceLoader::MessageBoxHook g_hook;

void CResourceLoader::SetMessageBoxHook(MessageBoxHook hook)
{
    g_hook = hook;
}

int CResourceLoader::MessageBoxRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    CStringEx text;
    LoadString(id, text);
    return g_hook ? g_hook(owner, text, caption, style | MB_TOPMOST, timeoutMs) : IDOK;
}

CStringEx CResourceLoader::GetProgramVersion()
{
    return CStringEx(L"1.1.38");
}

BOOL CResourceLoader::GetModulePath(CStringEx& folder, CStringEx& name, BOOL keepExtension)
{
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, path, MAX_PATH))
        return FALSE;
    CStringEx full(path);
    const int slash = full.ReverseFind(L'\\');
    folder = slash >= 1 ? full.Left(slash) : CStringEx();
    name = slash >= 1 ? full.Mid(slash + 1) : full;
    if (!keepExtension && name.ReverseFind(L'.') >= 0)
        name = name.Left(name.ReverseFind(L'.'));
    return TRUE;
}
