#include "cartlink/CCartUSBCommResponse.h"
#include "cartlink/CartTextField.h"
#include <algorithm>

DWORD CCartUSBCommResponse::Encode(BYTE* buffer, DWORD size) const
{
    if (buffer == nullptr || size == 0)
        return 0;
    // The length field is the cart's word; only what was stored can be copied out.
    const DWORD stored = KELVO_HEADER_SIZE + std::min<DWORD>(GetDataLength(), KELVO_RESPONSE_PAYLOAD_MAX);
    const DWORD count = std::min(size, stored);
    CopyMemory(buffer, m_message, count);
    return count;
}

DWORD CCartUSBCommResponse::Decode(const BYTE* data, DWORD length)
{
    if (data == nullptr || length < KELVO_HEADER_SIZE)
        return 0;
    CopyMemory(m_message, data, KELVO_HEADER_SIZE);
    const DWORD declared = GetDataLength();
    DWORD stored = 0;
    if (declared != 0)
    {
        stored = std::min({ declared, length - KELVO_HEADER_SIZE, KELVO_RESPONSE_PAYLOAD_MAX });
        CopyMemory(m_message + KELVO_HEADER_SIZE, data + KELVO_HEADER_SIZE, stored);
    }
    m_received = 1;
    return stored + KELVO_HEADER_SIZE;
}

WORD CCartUSBCommResponse::GetDataLength() const
{
    return static_cast<WORD>(m_message[2] | (m_message[3] << 8));
}

BOOL CCartUSBCommResponse::IsReceived() const
{
    return FALSE;
}

CStringEx CCartUSBCommResponse::ReadText() const
{
    // The low byte of the length field bounds the text, as does the stored payload.
    return CartTextField::Read(GetPayload(), m_message[2], KELVO_RESPONSE_PAYLOAD_MAX);
}
