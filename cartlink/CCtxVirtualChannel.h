#pragma once
#include "cartlink/CCtxLibrary.h"
#include "cartlink/CVirtualChannel.h"

namespace kelvo_detail
{
// An open Citrix channel, closed with the library's own WFVirtualChannelClose.
struct CtxChannelTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type channel)
    {
        if (const auto close = CCtxLibrary::Api().VirtualChannelClose)
            close(channel);
    }
};
}

// A virtual channel on the Citrix session library. Each live object is one user of that
// library, so it stays loaded while the channel lives.
class CCtxVirtualChannel : public CVirtualChannel
{
public:
    CCtxVirtualChannel() noexcept;
    ~CCtxVirtualChannel() override;
    CCtxVirtualChannel(const CCtxVirtualChannel&) = delete;
    CCtxVirtualChannel& operator=(const CCtxVirtualChannel&) = delete;

    BOOL Open(LPCWSTR name) override;
    BOOL Close() override;
    BOOL Read(DWORD timeoutMs, BYTE* buffer, DWORD size, DWORD* count) override;
    BOOL ReadEx(const CEventEx& cancel, BYTE* buffer, DWORD size, DWORD* count) override;
    BOOL Write(const BYTE* buffer, DWORD length, DWORD* written) override;
    // The unsigned 16-bit value at byte offset 48 of the endpoint's client data.
    BOOL QueryPacketSize(WORD* size) override;

    static constexpr DWORD PacketSizeOffset = 48;

private:
    CUniqueAnyEx<kelvo_detail::CtxChannelTraits> m_channel;
};
