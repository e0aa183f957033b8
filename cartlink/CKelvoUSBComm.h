#pragma once
#include "cartlink/CCartUSBComm.h"
#include <dbt.h>
#include <vector>

// The cart's controller as a USB HID device: found among the machine's HID device
// interfaces by its vendor ID, opened afresh for every exchange.
class CKelvoUSBComm : public CCartUSBComm
{
public:
    CKelvoUSBComm() = default;

    BOOL FindDevice() override;
    CHandleEx Open(LPCWSTR path) override;
    BOOL IsSupportedDevice(LPCWSTR path) override;
    DWORD QueryDeviceIdentity() override;

    // Fills the supported-device table from configured hardware-ID strings; an empty list
    // leaves the table as it is.
    static void LoadSupportedDevices(const std::vector<CStringEx>& hardwareIds);
    // Follows one device-change broadcast: 1 when a supported cart arrived and became
    // current, 0 when the current cart was removed, -1 for anything else.
    static int OnDeviceChange(UINT_PTR event, const DEV_BROADCAST_HDR* header);

private:
    // Opens the device without overlapped I/O and asks for its IDs; TRUE when supported.
    static BOOL ProbeDevice(LPCWSTR path);
};
