#pragma once
#include "cartlink/KelvoCartCommand.h"
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"

// An answer from the cart: the received 4-byte header (report ID preset to 1) and up to
// 20 payload bytes. A response is matched to its request only by order.
class CCartUSBCommResponse : public CObjectEx
{
public:
    // Copies the header and the stored payload (at most 24 bytes) into the buffer and
    // returns the number of bytes copied; 0 when there is no buffer.
    virtual DWORD Encode(BYTE* buffer, DWORD size) const;
    // Fills the response from a received report; returns the header size plus the payload
    // bytes stored, or 0 when the report is shorter than a header.
    virtual DWORD Decode(const BYTE* data, DWORD length);
    // The code of the request this class answers (not the received one).
    virtual BYTE GetCommand() const = 0;
    // The received payload length field.
    virtual WORD GetDataLength() const;
    virtual BOOL IsReceived() const;

    BYTE GetReceivedCommand() const noexcept { return m_message[1]; }
    const BYTE* GetPayload() const noexcept { return m_message + KELVO_HEADER_SIZE; }

    // The tag of the request this answers (see CCartUSBCommRequest::GetTag).
    ULONG GetTag() const noexcept { return m_tag; }
    void SetTag(ULONG tag) noexcept { m_tag = tag; }

protected:
    CCartUSBCommResponse() noexcept { m_message[0] = 1; }

    // Reads a received name field from the payload.
    CStringEx ReadText() const;

    BYTE m_message[KELVO_HEADER_SIZE + KELVO_RESPONSE_PAYLOAD_MAX] = {};
    DWORD m_received = 0;

private:
    ULONG m_tag = 0;
};

class CKelvoUSBCommResponse : public CCartUSBCommResponse
{
protected:
    explicit CKelvoUSBCommResponse(BYTE command) noexcept : m_command(command) {}

public:
    BYTE GetCommand() const override { return m_command; }

private:
    BYTE m_command;
};

template <BYTE N>
class TKelvoUSBCommResponse : public CKelvoUSBCommResponse
{
public:
    TKelvoUSBCommResponse() noexcept : CKelvoUSBCommResponse(N) {}
};

class CKelvoProtocolVerResponse : public TKelvoUSBCommResponse<KELVO_CMD_PROTOCOL_VERSION>
{
public:
    // 0 means the cart speaks no known protocol version.
    BYTE GetProtocolVersion() const noexcept { return GetPayload()[0]; }
};

class CKelvoSerialNumberResponse : public TKelvoUSBCommResponse<KELVO_CMD_SERIAL_NUMBER>
{
public:
    CStringEx GetSerialNumber() const { return ReadText(); }
};

class CKelvoFirmwareVersionResponse : public TKelvoUSBCommResponse<KELVO_CMD_FIRMWARE_VERSION>
{
public:
    CStringEx GetFirmwareVersion() const { return ReadText(); }
};

class CKelvoPollForDrawerBtnResponse : public TKelvoUSBCommResponse<KELVO_CMD_POLL_FOR_DRAWER_BTN>
{
public:
    BYTE GetButtonState() const noexcept { return GetPayload()[0]; }
    bool IsPressed() const noexcept { return GetButtonState() == KELVO_DRAWER_BUTTON_PRESSED; }
};

class CKelvoAuthDrawerAccessResponse : public TKelvoUSBCommResponse<KELVO_CMD_AUTH_DRAWER_ACCESS>
{
public:
    BYTE GetResult() const noexcept { return GetPayload()[0]; }
    bool IsGranted() const noexcept { return GetResult() == KELVO_DRAWER_ACCESS_GRANTED; }
};

// Only the exchange's result is read from the wire; the name is the one the agent asked
// the cart to bind, kept here for the agent's own use.
class CKelvoBindComputerNameResponse : public TKelvoUSBCommResponse<KELVO_CMD_BIND_COMPUTER_NAME>
{
public:
    BOOL IsReceived() const override { return m_received != 0; }
    const CStringEx& GetRequestedName() const noexcept { return m_requestedName; }
    void SetRequestedName(LPCWSTR name) { m_requestedName = name; }

private:
    CStringEx m_requestedName;
};

class CKelvoBoundComputerNameResponse : public TKelvoUSBCommResponse<KELVO_CMD_BOUND_COMPUTER_NAME>
{
public:
    CStringEx GetBoundName() const { return ReadText(); }
};

class CKelvoQueryAccessResponse : public TKelvoUSBCommResponse<KELVO_CMD_QUERY_ACCESS>
{
public:
    BYTE GetAccessState() const noexcept { return GetPayload()[0]; }
};

class CKelvoQueryStatusResponse : public TKelvoUSBCommResponse<KELVO_CMD_QUERY_STATUS>
{
public:
    BYTE GetStatus() const noexcept { return GetPayload()[0]; }
};
