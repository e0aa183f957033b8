#pragma once
#include "common/CUniqueAnyEx.h"

// The Citrix session library (wfapi64.dll), shared by every Citrix session and channel object
// of the process. It is loaded when its first user appears and freed when the last one goes;
// each entry point is resolved by name and may be missing, so every caller tests it first.
class CCtxLibrary
{
public:
    // Information class of WFQuerySessionInformationW that gives the endpoint's name.
    static constexpr DWORD WFClientName = 10;
    // Information class of WFVirtualChannelQuery that gives the endpoint's client data.
    static constexpr DWORD WFVirtualClientData = 0;
    // The calling process's own server and session.
    static constexpr HANDLE WFCurrentServer = nullptr;
    static constexpr DWORD WFCurrentSession = 0xFFFFFFFF;

    using PFNQuerySessionInformationW = BOOL(WINAPI*)(HANDLE server, DWORD sessionId, DWORD infoClass,
                                                      LPWSTR* buffer, DWORD* bytesReturned);
    using PFNFreeMemory = VOID(WINAPI*)(PVOID memory);
    using PFNVirtualChannelOpen = HANDLE(WINAPI*)(HANDLE server, DWORD sessionId, LPSTR virtualName);
    using PFNVirtualChannelQuery = BOOL(WINAPI*)(HANDLE channel, DWORD virtualClass, PVOID* buffer,
                                                 PULONG bytesReturned);
    using PFNVirtualChannelRead = BOOL(WINAPI*)(HANDLE channel, ULONG timeoutMs, PCHAR buffer, ULONG bufferSize,
                                                PULONG bytesRead);
    using PFNVirtualChannelReadEx = BOOL(WINAPI*)(HANDLE channel, HANDLE cancelEvent, PCHAR buffer,
                                                  ULONG bufferSize, PULONG bytesRead);
    using PFNVirtualChannelWrite = BOOL(WINAPI*)(HANDLE channel, PCHAR buffer, ULONG length, PULONG bytesWritten);
    using PFNVirtualChannelClose = BOOL(WINAPI*)(HANDLE channel);

    struct EntryPoints
    {
        PFNQuerySessionInformationW QuerySessionInformationW;
        PFNFreeMemory FreeMemory;
        PFNVirtualChannelOpen VirtualChannelOpen;
        PFNVirtualChannelQuery VirtualChannelQuery;
        PFNVirtualChannelRead VirtualChannelRead;
        PFNVirtualChannelReadEx VirtualChannelReadEx;
        PFNVirtualChannelWrite VirtualChannelWrite;
        PFNVirtualChannelClose VirtualChannelClose;
    };

    // One more user; the change from 0 to 1 loads the library from the first place it is found.
    static void AddUser() noexcept;
    // One user fewer; the change to 0 frees the library and clears every entry point.
    static void RemoveUser() noexcept;

    // The entry points resolved from the loaded library; all empty while it is not loaded.
    static const EntryPoints& Api() noexcept { return s_api; }
    static HMODULE GetModule() noexcept { return s_module.Get(); }
    static LONG GetUserCount() noexcept;

    // Frees memory the library handed out, when it can.
    static void Free(PVOID memory) noexcept
    {
        if (memory && s_api.FreeMemory)
            s_api.FreeMemory(memory);
    }

private:
    static void Load() noexcept;
    static void Unload() noexcept;

    static LONG s_users;
    static CModuleEx s_module;
    static EntryPoints s_api;
};

namespace kelvo_detail
{
// Memory returned by the Citrix library, freed with its own WFFreeMemory.
struct CtxMemoryTraits { using Type = void*; static Type Invalid() { return nullptr; } static void Close(Type p) { CCtxLibrary::Free(p); } };
}
using CCtxMemoryEx = CUniqueAnyEx<kelvo_detail::CtxMemoryTraits>;
