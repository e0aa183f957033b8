#include "sim/cart/CKelvoSimHidDevices.h"
#include "cartlink/CKelvoSrwLockHold.h"
#include <cstring>

bool CKelvoSimHidDevices::Entry::IsPresent() const
{
    if (cart)
        return cart->IsPresent();
    // A pipe that exists answers the wait with success or a time-out while all its
    // instances are busy; only a missing pipe is a removed cart.
    return WaitNamedPipeW(path, 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
}

void CKelvoSimHidDevices::Add(_CObjectExPtr<CKelvoCartSimulator> cart)
{
    Entry entry{cart, cart->GetDevicePath(), cart->GetVendorId(), cart->GetProductId()};
    CKelvoSrwLockHold hold(m_lock);
    m_carts.push_back(std::move(entry));
}

void CKelvoSimHidDevices::AddRemote(LPCWSTR path, USHORT vendorId, USHORT productId)
{
    Entry entry{nullptr, path, vendorId, productId};
    CKelvoSrwLockHold hold(m_lock);
    m_carts.push_back(std::move(entry));
}

void CKelvoSimHidDevices::Clear()
{
    CKelvoSrwLockHold hold(m_lock);
    m_carts.clear();
}

void CKelvoSimHidDevices::SetListFailure(CONFIGRET failure)
{
    CKelvoSrwLockHold hold(m_lock);
    m_failure = failure;
}

std::vector<WCHAR> CKelvoSimHidDevices::BuildList() const
{
    std::vector<WCHAR> list;
    for (const Entry& entry : m_carts)
    {
        if (entry.IsPresent())
            list.insert(list.end(), entry.path.GetString(), entry.path.GetString() + entry.path.GetLength() + 1);
    }
    list.push_back(L'\0');
    return list;
}

CONFIGRET CKelvoSimHidDevices::GetInterfaceListSize(ULONG* length, GUID)
{
    if (length == nullptr)
        return CR_INVALID_POINTER;
    CKelvoSrwLockHold hold(m_lock);
    if (m_failure != CR_SUCCESS)
        return m_failure;
    *length = static_cast<ULONG>(BuildList().size());
    return CR_SUCCESS;
}

CONFIGRET CKelvoSimHidDevices::GetInterfaceList(GUID, PWCHAR buffer, ULONG length)
{
    if (buffer == nullptr)
        return CR_INVALID_POINTER;
    CKelvoSrwLockHold hold(m_lock);
    if (m_failure != CR_SUCCESS)
        return m_failure;
    const std::vector<WCHAR> list = BuildList();
    if (list.size() > length)
        return CR_BUFFER_SMALL;
    memcpy(buffer, list.data(), list.size() * sizeof(WCHAR));
    return CR_SUCCESS;
}

BOOLEAN CKelvoSimHidDevices::GetAttributes(HANDLE device, LPCWSTR path, HIDD_ATTRIBUTES* attributes)
{
    if (device == nullptr || device == INVALID_HANDLE_VALUE || path == nullptr || attributes == nullptr)
        return FALSE;
    CKelvoSrwLockHold hold(m_lock);
    for (const Entry& entry : m_carts)
    {
        if (entry.path.CompareNoCase(path) == 0 && entry.IsPresent())
        {
            attributes->Size = sizeof(*attributes);
            attributes->VendorID = entry.vendorId;
            attributes->ProductID = entry.productId;
            attributes->VersionNumber = 0x0100;
            return TRUE;
        }
    }
    return FALSE;
}
