#pragma once
#include "cartlink/IKelvoHidDevices.h"
#include <map>

// Process-wide data of the USB transports: the table of supported vendor and product IDs
// and the source of the machine's HID device interfaces. The table is filled once at
// start-up and read by every transport afterwards.
class CKelvoUSBCommStaticData : public CObjectEx
{
public:
    static CKelvoUSBCommStaticData& Instance();

    void ClearSupportedDevices();
    // Pairs with a zero ID are not stored; duplicates are.
    void AddSupportedDevice(LONG vendorId, LONG productId);
    bool IsTableEmpty() const;
    size_t GetSupportedCount() const;
    // True when some entry has this vendor ID and a non-zero product ID.
    bool IsSupportedVendor(LONG vendorId) const;

    // The HID device source in use; Windows' own unless another was chosen.
    _CObjectExPtr<IKelvoHidDevices> GetHidDevices() const;
    // Chooses the source (null returns to Windows' own) and returns the previous one.
    _CObjectExPtr<IKelvoHidDevices> SetHidDevices(_CObjectExPtr<IKelvoHidDevices> devices);

private:
    CKelvoUSBCommStaticData();

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    std::multimap<LONG, LONG> m_supported;
    _CObjectExPtr<IKelvoHidDevices> m_windowsDevices;
    _CObjectExPtr<IKelvoHidDevices> m_devices;
};
