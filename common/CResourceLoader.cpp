#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "resources/ProgramStrings.h"
#include <vector>

namespace
{
const wchar_t kLibraryName[] = L"KVResource";
const DWORD kUsEnglish = 1033;
const DWORD kFixedInfoSignature = 0xFEEF04BD;
// Load's answer when a library was found but belongs to another release.
const DWORD kVersionMismatch = 425;

CResourceLoader::MessageBoxHook g_messageBoxHook = nullptr;

using MessageBoxTimeoutFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);

// user32 exports MessageBoxTimeoutW without declaring it; it is looked up once by name
// in the user32 this process already has loaded.
MessageBoxTimeoutFn FindMessageBoxTimeout()
{
    static const MessageBoxTimeoutFn function = []() -> MessageBoxTimeoutFn {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        FARPROC proc = user32 ? GetProcAddress(user32, "MessageBoxTimeoutW") : nullptr;
        return reinterpret_cast<MessageBoxTimeoutFn>(reinterpret_cast<void*>(proc));
    }();
    return function;
}

// The fixed file version of a module file; false when it has none or cannot be read.
bool ReadFixedVersion(LPCWSTR path, VS_FIXEDFILEINFO& version)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return false;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data()))
        return false;
    void* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", &info, &length) || info == nullptr || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    version = *static_cast<const VS_FIXEDFILEINFO*>(info);
    return version.dwSignature == kFixedInfoSignature;
}

bool ReadProgramVersion(VS_FIXEDFILEINFO& version)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH && ReadFixedVersion(path, version);
}
}

CResourceLoader& CResourceLoader::Instance()
{
    static CResourceLoader loader;
    return loader;
}

DWORD CResourceLoader::Load()
{
    if (m_module)
        return 0;
    CStringEx folder, name;
    if (!GetModulePath(folder, name, FALSE))
        return ERROR_FILE_NOT_FOUND;
    m_locale = GetSystemDefaultLCID();

    bool mismatch = false;
    DWORD error = 0;
    CStringEx path;

    // Beside the program: a library that cannot be loaded here is simply not installed there.
    path.Format(L"%s\\%s.dll", folder.GetString(), kLibraryName);
    switch (TryCandidate(path, &error))
    {
    case Candidate::Loaded: return 0;
    case Candidate::Mismatch: mismatch = true; break;
    case Candidate::NotLoaded: break;
    }

    // The folder of the machine's language, then US English.
    struct Attempt { DWORD locale; UINT failureText; };
    const Attempt attempts[] = { { m_locale, IDS_PROG_LOAD_EXACT_LOCALE }, { kUsEnglish, IDS_PROG_LOAD_US_ENGLISH } };
    for (const Attempt& attempt : attempts)
    {
        if (attempt.locale == 0)
            path.Format(L"%s\\%s.dll", folder.GetString(), kLibraryName);
        else
            path.Format(L"%s\\%d\\%s.dll", folder.GetString(), static_cast<int>(attempt.locale), kLibraryName);
        switch (TryCandidate(path, &error))
        {
        case Candidate::Loaded:
            return 0;
        case Candidate::Mismatch:
            mismatch = true;
            break;
        case Candidate::NotLoaded:
        {
            CStringEx line;
            FormatString(line, attempt.failureText, static_cast<int>(error), path.GetString());
            CUtilLogging::Instance().Log(2, L"%s", line.GetString());
            break;
        }
        }
    }
    return mismatch ? kVersionMismatch : ERROR_FILE_NOT_FOUND;
}

CResourceLoader::Candidate CResourceLoader::TryCandidate(const CStringEx& path, DWORD* loadError)
{
    CModuleEx library(LoadLibraryW(path));
    if (!library)
    {
        *loadError = GetLastError();
        return Candidate::NotLoaded;
    }
    // Same release: major, minor and build equal; the fourth number is free for fixes of
    // the texts alone. A version that cannot be read belongs to no release.
    VS_FIXEDFILEINFO own = {}, candidate = {};
    if (!ReadProgramVersion(own) || !ReadFixedVersion(path, candidate)
        || own.dwFileVersionMS != candidate.dwFileVersionMS
        || HIWORD(own.dwFileVersionLS) != HIWORD(candidate.dwFileVersionLS))
        return Candidate::Mismatch;

    m_libraryVersion.Format(L"%d.%d.%d.0", HIWORD(candidate.dwFileVersionMS), LOWORD(candidate.dwFileVersionMS),
                            HIWORD(candidate.dwFileVersionLS));
    m_libraryPath = path;
    m_module = std::move(library);
    return Candidate::Loaded;
}

BOOL CResourceLoader::UseModule(HMODULE module)
{
    if (module == nullptr)
    {
        m_module.Reset();
        m_libraryPath.Empty();
        m_libraryVersion.Empty();
        return TRUE;
    }
    HMODULE own = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module), &own) ||
        own != module)
    {
        if (own)
            FreeLibrary(own);
        return FALSE;
    }
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    m_libraryPath = length > 0 && length < MAX_PATH ? CStringEx(path, static_cast<int>(length)) : CStringEx();
    m_libraryVersion.Empty();
    m_module.Reset(own);
    return TRUE;
}

HMODULE CResourceLoader::GetModule() const
{
    return m_module.Get();
}

BOOL CResourceLoader::TryLoadString(UINT id, CStringEx& text) const
{
    HMODULE source = m_module ? m_module.Get() : GetModuleHandleW(nullptr);
    const wchar_t* resource = nullptr;
    const int length = ::LoadStringW(source, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr)
        return FALSE;
    text = CStringEx(resource, length);
    return TRUE;
}

BOOL CResourceLoader::LoadString(UINT id, CStringEx& text, BOOL* failed)
{
    const BOOL found = TryLoadString(id, text);
    if (failed)
        *failed = !found;
    if (found)
        return TRUE;
    // The failure text stands in for the missing one, so nothing that shows or logs it fails.
    text.Format(L"String (%d) failed to load.", static_cast<int>(id));
    CUtilLogging::Instance().Log(2, L"%s\n", text.GetString());
    return FALSE;
}

void CResourceLoader::FormatString(CStringEx& text, UINT id, ...)
{
    va_list args;
    va_start(args, id);
    FormatStringV(text, id, args);
    va_end(args);
}

void CResourceLoader::FormatStringV(CStringEx& text, UINT id, va_list args)
{
    CStringEx format;
    if (!LoadString(id, format))
    {
        text = format;
        return;
    }
    text.FormatV(format, args);
}

CStringEx CResourceLoader::LoadText(UINT id)
{
    CStringEx text;
    LoadString(id, text);
    return text;
}

void CResourceLoader::SetMessageBoxHook(MessageBoxHook hook)
{
    g_messageBoxHook = hook;
}

int CResourceLoader::MessageBoxRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    CStringEx text;
    LoadString(id, text);
    return MessageBoxText(owner, text, caption, style, timeoutMs);
}

int CResourceLoader::MessageBoxText(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    style |= MB_TOPMOST;
    if (g_messageBoxHook)
        return g_messageBoxHook(owner, text, caption, style, timeoutMs);
    if (timeoutMs != 0)
    {
        if (MessageBoxTimeoutFn timed = FindMessageBoxTimeout())
            return timed(owner, text, caption, style, 0, timeoutMs);
    }
    return MessageBoxW(owner, text, caption, style);
}

CStringEx CResourceLoader::GetProgramVersion()
{
    VS_FIXEDFILEINFO version = {};
    CStringEx text;
    if (ReadProgramVersion(version))
        text.Format(L"%d.%d.%d", HIWORD(version.dwFileVersionMS), LOWORD(version.dwFileVersionMS),
                    HIWORD(version.dwFileVersionLS));
    return text;
}

BOOL CResourceLoader::GetModulePath(CStringEx& folder, CStringEx& name, BOOL keepExtension)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    const CStringEx full(path, static_cast<int>(length));
    const int slash = full.ReverseFind(L'\\');
    if (slash >= 1)
    {
        folder = full.Left(slash);
        name = full.Mid(slash + 1);
    }
    else
    {
        folder.Empty();
        name = full;
    }
    const int dot = name.ReverseFind(L'.');
    if (!keepExtension && dot >= 0)
        name = name.Left(dot);
    return TRUE;
}
