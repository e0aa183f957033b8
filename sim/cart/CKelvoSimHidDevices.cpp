#include "sim/cart/CKelvoSimHidDevices.h"
#include "cartlink/CKelvoSrwLockHold.h"
#include <cstring>

void CKelvoSimHidDevices::Add(_CObjectExPtr<CKelvoCartSimulator> cart)
{
    CKelvoSrwLockHold hold(m_lock);
    m_carts.push_back(std::move(cart));
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
    for (const auto& cart : m_carts)
    {
        if (!cart->IsPresent())
            continue;
        const CStringEx& path = cart->GetDevicePath();
        list.insert(list.end(), path.GetString(), path.GetString() + path.GetLength() + 1);
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
    for (const auto& cart : m_carts)
    {
        if (cart->IsPresent() && cart->GetDevicePath().CompareNoCase(path) == 0)
        {
            attributes->Size = sizeof(*attributes);
            attributes->VendorID = cart->GetVendorId();
            attributes->ProductID = cart->GetProductId();
            attributes->VersionNumber = 0x0100;
            return TRUE;
        }
    }
    return FALSE;
}
