#pragma once
#include "cartlink/KelvoCartCommand.h"
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"

// A request from the workstation to the cart: a 4-byte header and up to 39 payload bytes,
// zero when made.
class CCartUSBCommRequest : public CObjectEx
{
public:
    // Copies min(size, payload length + 4) message bytes into the buffer and returns the
    // size offered (the transport always sends the whole report it offered); 0 when there
    // is no buffer.
    virtual DWORD Encode(BYTE* buffer, DWORD size) const;

    BYTE GetCommandCode() const noexcept { return m_message[1]; }
    WORD GetPayloadLength() const noexcept { return static_cast<WORD>(m_message[2] | (m_message[3] << 8)); }

    // The number of the work that sent the request (the agent's sign-in run), 0 for none.
    // It never goes to the cart; the worker copies it onto the answer, so that the sender
    // can tell an answer of its current work from a late one.
    ULONG GetTag() const noexcept { return m_tag; }
    void SetTag(ULONG tag) noexcept { m_tag = tag; }

protected:
    CCartUSBCommRequest() noexcept = default;

    BYTE m_message[KELVO_REQUEST_MAX] = {};

private:
    ULONG m_tag = 0;
};

class CKelvoUSBCommRequest : public CCartUSBCommRequest
{
protected:
    CKelvoUSBCommRequest(BYTE command, BYTE payloadLength) noexcept
    {
        m_message[0] = KELVO_REPORT_ID;
        m_message[1] = command;
        m_message[2] = payloadLength;
        m_message[3] = 0;
    }
    BYTE* Payload() noexcept { return m_message + KELVO_HEADER_SIZE; }
};

// The request with command code N; without payload unless a named class adds one.
template <BYTE N>
class TKelvoUSBCommRequest : public CKelvoUSBCommRequest
{
public:
    TKelvoUSBCommRequest() noexcept : CKelvoUSBCommRequest(N, 0) {}

protected:
    explicit TKelvoUSBCommRequest(BYTE payloadLength) noexcept : CKelvoUSBCommRequest(N, payloadLength) {}
};

using CKelvoProtocolVerRequest = TKelvoUSBCommRequest<KELVO_CMD_PROTOCOL_VERSION>;
using CKelvoSerialNumberRequest = TKelvoUSBCommRequest<KELVO_CMD_SERIAL_NUMBER>;
using CKelvoFirmwareVersionRequest = TKelvoUSBCommRequest<KELVO_CMD_FIRMWARE_VERSION>;
using CKelvoPollForDrawerBtnRequest = TKelvoUSBCommRequest<KELVO_CMD_POLL_FOR_DRAWER_BTN>;
using CKelvoBoundComputerNameRequest = TKelvoUSBCommRequest<KELVO_CMD_BOUND_COMPUTER_NAME>;
using CKelvoQueryAccessRequest = TKelvoUSBCommRequest<KELVO_CMD_QUERY_ACCESS>;
using CKelvoQueryStatusRequest = TKelvoUSBCommRequest<KELVO_CMD_QUERY_STATUS>;
using CKelvoEndAccessRequest = TKelvoUSBCommRequest<KELVO_CMD_END_ACCESS>;

// Tells the cart that a sign-in prompt opened (0x80) or that its result arrived (0x01).
class CKelvoAuthStatusRequest : public TKelvoUSBCommRequest<KELVO_CMD_AUTH_STATUS>
{
public:
    explicit CKelvoAuthStatusRequest(BYTE status) noexcept;
};

// Grants drawer access: computer name (15), user name (20), access mode, then FF FF FF.
class CKelvoAuthDrawerAccessRequest : public TKelvoUSBCommRequest<KELVO_CMD_AUTH_DRAWER_ACCESS>
{
public:
    CKelvoAuthDrawerAccessRequest(LPCWSTR computerName, LPCWSTR userName, BYTE accessMode);
};

// Binds the cart to a computer name; the name is also kept for the agent's own use.
class CKelvoBindComputerNameRequest : public TKelvoUSBCommRequest<KELVO_CMD_BIND_COMPUTER_NAME>
{
public:
    explicit CKelvoBindComputerNameRequest(LPCWSTR computerName);
    const CStringEx& GetName() const noexcept { return m_computerName; }

private:
    CStringEx m_computerName;
};

// Tells the cart that this user may not open the drawers.
class CKelvoUnauthorizedUserRequest : public TKelvoUSBCommRequest<KELVO_CMD_UNAUTHORIZED_USER>
{
public:
    explicit CKelvoUnauthorizedUserRequest(LPCWSTR userName);
};
