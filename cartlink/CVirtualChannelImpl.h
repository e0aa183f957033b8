#pragma once
#include "common/CObjectEx.h"

// Posted to the channel's window once per packet read: wParam the packet type, lParam the
// packet's value (the length of the data after the header).
#ifndef WM_AGENT_CHANNEL_DATA
#define WM_AGENT_CHANNEL_DATA (WM_USER + 21)
#endif

// A user of a virtual channel: pings the endpoint's channel driver, reads its one answer on a
// background thread and hands the answer's data over.
//
// Every packet starts with a 6-byte header of three unsigned 16-bit little-endian fields:
// length, type and value; the data follows. The ping is the header alone: length 6, type 1,
// value 0.
class CVirtualChannelImpl : public CObjectEx
{
public:
    static constexpr DWORD PacketHeaderSize = 6;
    static constexpr WORD PacketTypePing = 1;
    static constexpr DWORD LengthOffset = 0;
    static constexpr DWORD TypeOffset = 2;
    static constexpr DWORD ValueOffset = 4;
    // GetData waits no longer than this for the reader to end.
    static constexpr DWORD ReaderStopTimeoutMs = 3000;

    // Opens the channel when needed, sends the ping and starts the reader; TRUE on success.
    virtual BOOL Ping() = 0;
    // Starts a new reader thread (ending a previous one first); TRUE when it runs.
    virtual BOOL StartReader() = 0;
    // Ends the reader and copies the data of the packet it read into buffer (at most size
    // bytes); TRUE when the reader had read a packet.
    virtual BOOL GetData(BYTE* buffer, DWORD size) = 0;
    // The reader thread's body: reads one packet, posts WM_AGENT_CHANNEL_DATA and returns 0,
    // or a Windows error code (1223 when cancelled).
    virtual DWORD ReadPacket() = 0;
};
