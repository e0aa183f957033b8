#include "cartlink/CCartUSBCommRequest.h"
#include "cartlink/CartTextField.h"
#include <algorithm>

DWORD CCartUSBCommRequest::Encode(BYTE* buffer, DWORD size) const
{
    if (buffer == nullptr || size == 0)
        return 0;
    const DWORD length = std::min<DWORD>(GetPayloadLength() + KELVO_HEADER_SIZE, KELVO_REQUEST_MAX);
    CopyMemory(buffer, m_message, std::min(size, length));
    return size;
}

CKelvoAuthStatusRequest::CKelvoAuthStatusRequest(BYTE status) noexcept
    : TKelvoUSBCommRequest(1)
{
    Payload()[0] = status;
}

CKelvoAuthDrawerAccessRequest::CKelvoAuthDrawerAccessRequest(LPCWSTR computerName, LPCWSTR userName, BYTE accessMode)
    : TKelvoUSBCommRequest(0x27)
{
    BYTE* payload = Payload();
    CartTextField::Write(payload, KELVO_COMPUTER_NAME_WIDTH, computerName);
    CartTextField::Write(payload + 15, KELVO_USER_NAME_WIDTH, userName);
    payload[35] = accessMode;
    payload[36] = 0xFF;
    payload[37] = 0xFF;
    payload[38] = 0xFF;
}

CKelvoBindComputerNameRequest::CKelvoBindComputerNameRequest(LPCWSTR computerName)
    : TKelvoUSBCommRequest(KELVO_COMPUTER_NAME_WIDTH), m_computerName(computerName)
{
    CartTextField::Write(Payload(), KELVO_COMPUTER_NAME_WIDTH, computerName);
}

CKelvoUnauthorizedUserRequest::CKelvoUnauthorizedUserRequest(LPCWSTR userName)
    : TKelvoUSBCommRequest(KELVO_USER_NAME_WIDTH)
{
    CartTextField::Write(Payload(), KELVO_USER_NAME_WIDTH, userName);
}
