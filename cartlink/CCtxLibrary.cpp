#include "cartlink/CCtxLibrary.h"
#include <shlobj.h>
#include <string>

LONG CCtxLibrary::s_users = 0;
CModuleEx CCtxLibrary::s_module;
CCtxLibrary::EntryPoints CCtxLibrary::s_api = {};

namespace
{
// The known folder's path, or an empty text when the folder is not known here.
std::wstring KnownFolderPath(REFKNOWNFOLDERID id)
{
    CTaskMemEx path;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, reinterpret_cast<PWSTR*>(path.Put()))) || !path)
        return std::wstring();
    return std::wstring(static_cast<PCWSTR>(path.Get()));
}

template <typename TFn>
void Resolve(HMODULE module, const char* name, TFn& fn)
{
    fn = reinterpret_cast<TFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}

void CCtxLibrary::AddUser() noexcept
{
    if (InterlockedIncrement(&s_users) == 1)
        Load();
}

void CCtxLibrary::RemoveUser() noexcept
{
    if (InterlockedDecrement(&s_users) == 0)
        Unload();
}

LONG CCtxLibrary::GetUserCount() noexcept
{
    return InterlockedCompareExchange(&s_users, 0, 0);
}

void CCtxLibrary::Load() noexcept
{
    try
    {
        // The product installs the library below either Program Files folder, in one of two
        // subfolders depending on its release; the first place that loads wins.
        const std::wstring programFiles64 = KnownFolderPath(FOLDERID_ProgramFilesX64);
        const std::wstring programFiles32 = KnownFolderPath(FOLDERID_ProgramFilesX86);
        const std::pair<const std::wstring*, const wchar_t*> places[] = {
            { &programFiles64, L"\\Citrix\\system32\\wfapi64.dll" },
            { &programFiles32, L"\\Citrix\\system32\\wfapi64.dll" },
            { &programFiles32, L"\\Citrix\\ICAService\\wfapi64.dll" },
            { &programFiles64, L"\\Citrix\\ICAService\\wfapi64.dll" },
        };
        for (const auto& place : places)
        {
            if (place.first->empty())
                continue;
            s_module.Reset(LoadLibraryW((*place.first + place.second).c_str()));
            if (s_module)
                break;
        }
    }
    catch (...)
    {
        // Out of memory while building the paths: the library stays unloaded, which every
        // user already handles as "not a Citrix session".
        s_module.Reset();
    }
    if (!s_module)
        return;

    const HMODULE module = s_module.Get();
    Resolve(module, "WFQuerySessionInformationW", s_api.QuerySessionInformationW);
    Resolve(module, "WFFreeMemory", s_api.FreeMemory);
    Resolve(module, "WFVirtualChannelOpen", s_api.VirtualChannelOpen);
    Resolve(module, "WFVirtualChannelQuery", s_api.VirtualChannelQuery);
    Resolve(module, "WFVirtualChannelRead", s_api.VirtualChannelRead);
    Resolve(module, "WFVirtualChannelReadEx", s_api.VirtualChannelReadEx);
    Resolve(module, "WFVirtualChannelWrite", s_api.VirtualChannelWrite);
    Resolve(module, "WFVirtualChannelClose", s_api.VirtualChannelClose);
}

void CCtxLibrary::Unload() noexcept
{
    s_api = {};
    s_module.Reset();
}
