#pragma once
#include "cartlink/CVirtualChannelImpl.h"
#include "common/CHandleEx.h"
#include "common/CStringEx.h"
#include <cstring>
#include <vector>

// Pings and reads through a channel of type TChannel (a CVirtualChannel), which it owns.
//
// The window thread (Ping, StartReader, GetData, destruction) and the reader thread
// (ReadPacket) share the packet buffer. The window thread touches it only while no reader
// runs: every operation that writes, frees or reads it first cancels the reader through its
// stop event and waits for it to end.
template <class TChannel>
class CVirtualChannelImplT : public CVirtualChannelImpl
{
public:
    CVirtualChannelImplT(HWND window, LPCWSTR channelName)
        : m_window(window), m_channelName(channelName)
    {
    }
    ~CVirtualChannelImplT() override { Shutdown(); }
    CVirtualChannelImplT(const CVirtualChannelImplT&) = delete;
    CVirtualChannelImplT& operator=(const CVirtualChannelImplT&) = delete;

    BOOL Ping() override
    {
        try
        {
            // Open the channel once and size the packet buffer to what the endpoint takes.
            if (!m_open)
            {
                if (!m_channel.Open(m_channelName))
                    return FALSE;
                WORD packetSize = 0;
                if (!m_channel.QueryPacketSize(&packetSize))
                {
                    Shutdown();
                    return FALSE;
                }
                m_packet.assign(packetSize, 0);
                m_packet.shrink_to_fit();
                m_packetSize = packetSize;
                m_open = 1;
            }
            // An endpoint whose packets cannot hold a header cannot be pinged.
            if (m_packetSize < PacketHeaderSize)
                return FALSE;

            // The buffer is about to be rewritten: no reader may still be using it.
            StopReader(INFINITE);
            PutField(LengthOffset, static_cast<WORD>(PacketHeaderSize));
            PutField(TypeOffset, PacketTypePing);
            PutField(ValueOffset, 0);
            DWORD written = 0;
            if (!m_channel.Write(m_packet.data(), PacketHeaderSize, &written) || written < PacketHeaderSize)
                return FALSE;
            return StartReader();
        }
        catch (...)
        {
            // Out of memory for the packet buffer: nothing was sent.
            return FALSE;
        }
    }

    BOOL StartReader() override
    {
        if (!m_open)
            return FALSE;
        StopReader(INFINITE);
        if (!m_readerStop.Create())
            return FALSE;
        m_reader.Create(&CVirtualChannelImplT::ReaderThread, this);
        return m_reader.IsValid();
    }

    BOOL GetData(BYTE* buffer, DWORD size) override
    {
        if (!m_open || !m_reader.IsValid())
            return FALSE;
        if (m_reader.IsRunning())
        {
            m_readerStop.Set();
            // A reader that does not end in time keeps its handles: the next Ping, StartReader
            // or the destructor must still be able to wait for it before touching the buffer.
            if (m_reader.Wait(ReaderStopTimeoutMs) != WAIT_OBJECT_0)
                return FALSE;
        }
        m_readerStop.Close();
        DWORD exitCode = 0;
        const BOOL known = GetExitCodeThread(m_reader.GetHandle(), &exitCode);
        m_reader.Close();
        if (!known || exitCode != 0)
            return FALSE;

        // The data follows the header and ends with what this packet brought: the rest of the
        // buffer may still hold bytes of an earlier, longer packet.
        if (buffer && size && m_received > PacketHeaderSize)
        {
            const DWORD available = m_received - PacketHeaderSize;
            memcpy(buffer, m_packet.data() + PacketHeaderSize, size < available ? size : available);
        }
        return TRUE;
    }

    DWORD ReadPacket() override
    {
        if (!m_open)
            return ERROR_INVALID_PARAMETER;
        // The reader keeps its own share of the stop event; the window thread replaces the
        // member only after this thread has ended.
        CEventEx stop = m_readerStop;
        if (!stop.IsValid() || m_window == nullptr)
            return ERROR_INVALID_PARAMETER;

        // A read that brings no packet reports the type of the packet last written.
        const WORD sentType = GetField(TypeOffset);
        memset(m_packet.data(), 0, m_packet.size() < PacketHeaderSize ? m_packet.size() : PacketHeaderSize);

        DWORD count = 0;
        m_received = 0;
        SetLastError(ERROR_SUCCESS);
        DWORD result = ERROR_SUCCESS;
        if (!m_channel.ReadEx(stop, m_packet.data(), m_packetSize, &count))
        {
            result = GetLastError();
            if (result == ERROR_SUCCESS)
                result = ERROR_UNIDENTIFIED_ERROR;
        }
        if (stop.IsSet())
            result = ERROR_CANCELLED;
        if (result == ERROR_SUCCESS)
            m_received = count < m_packetSize ? count : m_packetSize;

        // The buffer keeps saying what was last sent, so a later read can report it again.
        if (GetField(TypeOffset) == 0 && m_packet.size() >= PacketHeaderSize)
            PutField(TypeOffset, sentType);
        const WORD type = GetField(TypeOffset);
        const WORD value = GetField(ValueOffset);
        stop.Close();
        // A window that has gone cannot be told; the exit code still says what happened.
        PostMessageW(m_window, WM_AGENT_CHANNEL_DATA, type, value);
        return result;
    }

private:
    static DWORD WINAPI ReaderThread(LPVOID context)
    {
        return static_cast<CVirtualChannelImpl*>(context)->ReadPacket();
    }

    // Cancels a running reader, waits for it to end and drops its handles.
    void StopReader(DWORD timeoutMs)
    {
        if (m_reader.IsRunning())
        {
            m_readerStop.Set();
            m_reader.Wait(timeoutMs);
        }
        m_readerStop.Close();
        m_reader.Close();
    }

    // Ends the reader, closes the channel and frees the packet buffer.
    void Shutdown() noexcept
    {
        StopReader(INFINITE);
        m_channel.Close();
        m_open = 0;
        std::vector<BYTE>().swap(m_packet);
        m_packetSize = 0;
        m_received = 0;
    }

    // Header fields are little-endian; a field beyond a short buffer reads as 0.
    WORD GetField(DWORD offset) const noexcept
    {
        if (m_packet.size() < offset + sizeof(WORD))
            return 0;
        return static_cast<WORD>(m_packet[offset] | (m_packet[offset + 1] << 8));
    }
    void PutField(DWORD offset, WORD value) noexcept
    {
        m_packet[offset] = static_cast<BYTE>(value & 0xFF);
        m_packet[offset + 1] = static_cast<BYTE>(value >> 8);
    }

    TChannel m_channel;
    HWND m_window;
    LONG m_open = 0;
    CThreadEx m_reader;
    CEventEx m_readerStop;
    std::vector<BYTE> m_packet;
    WORD m_packetSize = 0;
    // Bytes the last read brought, header included; written by the reader, read after it ended.
    DWORD m_received = 0;
    CStringEx m_channelName;
};
