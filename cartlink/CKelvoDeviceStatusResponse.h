#pragma once
#include "common/CObjectExPtr.h"

// The cart's state from the last answers to QueryAccess, QueryStatus and PollForDrawerBtn,
// handed from the worker thread to the agent window. It never travels on the wire.
class CKelvoDeviceStatusResponse : public CObjectEx
{
public:
    CKelvoDeviceStatusResponse(BYTE accessState, BYTE status, BYTE buttonState) noexcept
        : m_accessState(accessState), m_status(status), m_buttonState(buttonState) {}

    BYTE GetAccessState() const noexcept { return m_accessState; }
    BYTE GetStatus() const noexcept { return m_status; }
    BYTE GetButtonState() const noexcept { return m_buttonState; }

private:
    BYTE m_accessState;
    BYTE m_status;
    BYTE m_buttonState;
};
