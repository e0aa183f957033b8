#include "cartlink/CCtxSession.h"
#include <new>
#include "cartlink/CCtxLibrary.h"
#include "cartlink/CCtxVirtualChannel.h"
#include "cartlink/CVirtualChannelImplT.h"

const CObjectExClassInfo CCtxSession::s_classInfo = { "CCtxSession", sizeof(CCtxSession),
                                                      &CCtxSession::Create, nullptr };

namespace
{
// Asks the library for the client name; the buffer belongs to the caller's holder.
BOOL QueryClientName(CCtxMemoryEx& buffer, DWORD* bytes)
{
    const auto query = CCtxLibrary::Api().QuerySessionInformationW;
    if (!query)
        return FALSE;
    LPWSTR raw = nullptr;
    const BOOL ok = query(CCtxLibrary::WFCurrentServer, CCtxLibrary::WFCurrentSession,
                          CCtxLibrary::WFClientName, &raw, bytes);
    buffer.Reset(raw);
    return ok && raw;
}
}

CObjectEx* CCtxSession::Create()
{
    return new (std::nothrow) CCtxSession();
}

CCtxSession::CCtxSession() noexcept
{
    CCtxLibrary::AddUser();
}

CCtxSession::~CCtxSession()
{
    CCtxLibrary::RemoveUser();
}

BOOL CCtxSession::IsCurrent()
{
    CCtxMemoryEx buffer;
    DWORD bytes = 0;
    return QueryClientName(buffer, &bytes);
}

BOOL CCtxSession::GetClientName(CStringEx& name)
{
    try
    {
        name.Empty();
        CCtxMemoryEx buffer;
        DWORD bytes = 0;
        if (!QueryClientName(buffer, &bytes))
            return FALSE;
        const auto text = static_cast<LPCWSTR>(buffer.Get());
        // The byte count includes the terminator; never read past it.
        const size_t chars = bytes ? wcsnlen(text, bytes / sizeof(wchar_t)) : wcslen(text);
        name = CStringEx(text, static_cast<int>(chars));
        return TRUE;
    }
    catch (...)
    {
        // Only an allocation can fail here; the caller sees an unnamed endpoint.
        name.Empty();
        return FALSE;
    }
}

_CObjectExPtr<CObjectEx> CCtxSession::OpenVirtualChannel(HWND window, LPCWSTR channelName)
{
    try
    {
        return MakeObjectEx<CVirtualChannelImplT<CCtxVirtualChannel>>(window, channelName);
    }
    catch (...)
    {
        // The channel object could not be made (out of memory): the caller sees no channel.
        return nullptr;
    }
}
