// The eight entry points of the Citrix server API that the agent resolves, played by one
// configured endpoint (CtxEndpointConfig.h).
#include "CtxChannel.h"
#include "CtxEndpointConfig.h"
#include <cstring>
#include <new>

namespace
{
// Memory handed to callers comes from the process heap and goes back with WFFreeMemory.
void* Allocate(size_t bytes)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
}

constexpr DWORD WFClientName = 10;
constexpr DWORD WFVirtualClientData = 0;
constexpr DWORD PacketSizeOffset = 48;

CtxChannel* AsChannel(HANDLE handle)
{
    return static_cast<CtxChannel*>(handle);
}
}

extern "C" {

BOOL WINAPI WFQuerySessionInformationW(HANDLE server, DWORD sessionId, DWORD infoClass, LPWSTR* buffer,
                                       DWORD* bytesReturned)
{
    CtxTrace("QuerySessionInformation server=%p session=%lu class=%lu", server,
             static_cast<unsigned long>(sessionId), static_cast<unsigned long>(infoClass));
    if (buffer == nullptr || bytesReturned == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *buffer = nullptr;
    *bytesReturned = 0;
    if (infoClass != WFClientName)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const CtxEndpointConfig config = CtxEndpointConfig::Read();
    if (config.clientName.empty())
    {
        // Not an ICA session.
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const size_t bytes = (config.clientName.size() + 1) * sizeof(wchar_t);
    auto* text = static_cast<LPWSTR>(Allocate(bytes));
    if (text == nullptr)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    memcpy(text, config.clientName.c_str(), bytes);
    *buffer = text;
    *bytesReturned = static_cast<DWORD>(bytes);
    CtxTrace("Allocated %p", static_cast<void*>(text));
    return TRUE;
}

VOID WINAPI WFFreeMemory(PVOID memory)
{
    CtxTrace("Free %p", memory);
    if (memory)
        HeapFree(GetProcessHeap(), 0, memory);
}

HANDLE WINAPI WFVirtualChannelOpen(HANDLE server, DWORD sessionId, LPSTR virtualName)
{
    CtxTrace("Open server=%p session=%lu name=%s", server, static_cast<unsigned long>(sessionId),
             virtualName ? virtualName : "(null)");
    const CtxEndpointConfig config = CtxEndpointConfig::Read();
    if (virtualName == nullptr || config.channel.empty() || _stricmp(virtualName, config.channel.c_str()) != 0)
    {
        // The endpoint has no driver for this channel.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    CtxChannel* channel = new (std::nothrow) CtxChannel(virtualName);
    if (channel == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return channel;
}

BOOL WINAPI WFVirtualChannelClose(HANDLE channel)
{
    CtxTrace("Close");
    if (channel == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete AsChannel(channel);
    return TRUE;
}

BOOL WINAPI WFVirtualChannelQuery(HANDLE channel, DWORD virtualClass, PVOID* buffer, PULONG bytesReturned)
{
    CtxTrace("Query class=%lu", static_cast<unsigned long>(virtualClass));
    if (channel == nullptr || buffer == nullptr || bytesReturned == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *buffer = nullptr;
    *bytesReturned = 0;
    const CtxEndpointConfig config = CtxEndpointConfig::Read();
    if (virtualClass != WFVirtualClientData || config.packetSize < 0 || config.clientDataSize < 0)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const size_t bytes = static_cast<size_t>(config.clientDataSize);
    auto* data = static_cast<BYTE*>(Allocate(bytes));
    if (data == nullptr)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (bytes >= PacketSizeOffset + 2)
    {
        data[PacketSizeOffset] = static_cast<BYTE>(config.packetSize & 0xFF);
        data[PacketSizeOffset + 1] = static_cast<BYTE>((config.packetSize >> 8) & 0xFF);
    }
    *buffer = data;
    *bytesReturned = static_cast<ULONG>(bytes);
    CtxTrace("Allocated %p", static_cast<void*>(data));
    return TRUE;
}

BOOL WINAPI WFVirtualChannelRead(HANDLE channel, ULONG timeoutMs, PCHAR buffer, ULONG bufferSize, PULONG bytesRead)
{
    CtxTrace("Read timeout=%lu size=%lu", static_cast<unsigned long>(timeoutMs),
             static_cast<unsigned long>(bufferSize));
    if (channel == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return AsChannel(channel)->Read(nullptr, timeoutMs, reinterpret_cast<BYTE*>(buffer), bufferSize, bytesRead);
}

BOOL WINAPI WFVirtualChannelReadEx(HANDLE channel, HANDLE cancelEvent, PCHAR buffer, ULONG bufferSize,
                                   PULONG bytesRead)
{
    CtxTrace("ReadEx size=%lu", static_cast<unsigned long>(bufferSize));
    if (channel == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return AsChannel(channel)->Read(cancelEvent, INFINITE, reinterpret_cast<BYTE*>(buffer), bufferSize, bytesRead);
}

BOOL WINAPI WFVirtualChannelWrite(HANDLE channel, PCHAR buffer, ULONG length, PULONG bytesWritten)
{
    if (channel == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return AsChannel(channel)->Write(reinterpret_cast<const BYTE*>(buffer), length, bytesWritten);
}

} // extern "C"
