#include "cartlink/CCtxVirtualChannel.h"
#include <vector>

CCtxVirtualChannel::CCtxVirtualChannel() noexcept
{
    CCtxLibrary::AddUser();
}

CCtxVirtualChannel::~CCtxVirtualChannel()
{
    // The channel must be closed while the library that closes it is still loaded.
    Close();
    CCtxLibrary::RemoveUser();
}

BOOL CCtxVirtualChannel::Open(LPCWSTR name)
{
    const auto open = CCtxLibrary::Api().VirtualChannelOpen;
    if (name == nullptr || *name == L'\0' || !open)
        return FALSE;
    if (m_channel)
        Close();
    try
    {
        // Channel names are 8-bit text in the Citrix interface.
        const int bytes = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return FALSE;
        std::vector<char> ansi(static_cast<size_t>(bytes));
        if (!WideCharToMultiByte(CP_ACP, 0, name, -1, ansi.data(), bytes, nullptr, nullptr))
            return FALSE;
        const HANDLE channel = open(CCtxLibrary::WFCurrentServer, CCtxLibrary::WFCurrentSession, ansi.data());
        if (!IsValidHandleEx(channel))
            return FALSE;
        m_channel.Reset(channel);
        return TRUE;
    }
    catch (...)
    {
        // Out of memory converting the name: the channel stays closed.
        return FALSE;
    }
}

BOOL CCtxVirtualChannel::Close()
{
    if (!m_channel)
        return FALSE;
    m_channel.Reset();
    return TRUE;
}

BOOL CCtxVirtualChannel::Read(DWORD timeoutMs, BYTE* buffer, DWORD size, DWORD* count)
{
    const auto read = CCtxLibrary::Api().VirtualChannelRead;
    if (!m_channel || !read)
    {
        SetLastError(m_channel ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ULONG bytes = 0;
    const BOOL ok = read(m_channel.Get(), timeoutMs, reinterpret_cast<PCHAR>(buffer), size, &bytes);
    if (count)
        *count = bytes;
    return ok;
}

BOOL CCtxVirtualChannel::ReadEx(const CEventEx& cancel, BYTE* buffer, DWORD size, DWORD* count)
{
    const auto read = CCtxLibrary::Api().VirtualChannelReadEx;
    if (!m_channel || !read)
    {
        SetLastError(m_channel ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ULONG bytes = 0;
    // An empty event gives INVALID_HANDLE_VALUE, which the library takes as "no cancel event".
    const BOOL ok = read(m_channel.Get(), cancel.GetHandle(), reinterpret_cast<PCHAR>(buffer), size, &bytes);
    if (count)
        *count = bytes;
    return ok;
}

BOOL CCtxVirtualChannel::Write(const BYTE* buffer, DWORD length, DWORD* written)
{
    const auto write = CCtxLibrary::Api().VirtualChannelWrite;
    if (!m_channel || !write)
    {
        SetLastError(m_channel ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ULONG bytes = 0;
    // The library's signature is not const-correct; it does not change the data.
    const BOOL ok = write(m_channel.Get(), reinterpret_cast<PCHAR>(const_cast<BYTE*>(buffer)), length, &bytes);
    if (written)
        *written = bytes;
    return ok;
}

BOOL CCtxVirtualChannel::QueryPacketSize(WORD* size)
{
    if (size)
        *size = 0;
    const auto query = CCtxLibrary::Api().VirtualChannelQuery;
    if (!m_channel || !query || !size)
        return FALSE;
    CCtxMemoryEx data;
    ULONG bytes = 0;
    if (!query(m_channel.Get(), CCtxLibrary::WFVirtualClientData, data.Put(), &bytes) || !data)
        return FALSE;
    // Client data too short to hold the size is no answer (never read past what came back).
    if (bytes < PacketSizeOffset + sizeof(WORD))
        return FALSE;
    const BYTE* raw = static_cast<const BYTE*>(data.Get()) + PacketSizeOffset;
    *size = static_cast<WORD>(raw[0] | (raw[1] << 8));
    return TRUE;
}
