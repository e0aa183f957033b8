#include "cartlink/CKelvoUSBCommStaticData.h"
#include "cartlink/CKelvoWindowsHidDevices.h"
#include "cartlink/CKelvoSrwLockHold.h"

CKelvoUSBCommStaticData& CKelvoUSBCommStaticData::Instance()
{
    static CKelvoUSBCommStaticData data;
    return data;
}

CKelvoUSBCommStaticData::CKelvoUSBCommStaticData()
    : m_windowsDevices(MakeObjectEx<CKelvoWindowsHidDevices>()), m_devices(m_windowsDevices)
{
}

void CKelvoUSBCommStaticData::ClearSupportedDevices()
{
    CKelvoSrwLockHold hold(m_lock);
    m_supported.clear();
}

void CKelvoUSBCommStaticData::AddSupportedDevice(LONG vendorId, LONG productId)
{
    if (vendorId == 0 || productId == 0)
        return;
    CKelvoSrwLockHold hold(m_lock);
    m_supported.emplace(vendorId, productId);
}

bool CKelvoUSBCommStaticData::IsTableEmpty() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_supported.empty();
}

size_t CKelvoUSBCommStaticData::GetSupportedCount() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_supported.size();
}

bool CKelvoUSBCommStaticData::IsSupportedVendor(LONG vendorId) const
{
    CKelvoSrwLockHold hold(m_lock);
    const auto range = m_supported.equal_range(vendorId);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second != 0)
            return true;
    return false;
}

_CObjectExPtr<IKelvoHidDevices> CKelvoUSBCommStaticData::GetHidDevices() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_devices;
}

_CObjectExPtr<IKelvoHidDevices> CKelvoUSBCommStaticData::SetHidDevices(_CObjectExPtr<IKelvoHidDevices> devices)
{
    CKelvoSrwLockHold hold(m_lock);
    _CObjectExPtr<IKelvoHidDevices> previous = std::move(m_devices);
    m_devices = devices ? std::move(devices) : m_windowsDevices;
    return previous;
}
