#pragma once
#include "cartlink/IKelvoHidDevices.h"
#include "sim/cart/CKelvoCartSimulator.h"
#include <vector>

// The machine's HID device interfaces as simulated carts present them: each present
// simulator is listed, in the order added, with its vendor and product IDs.
class CKelvoSimHidDevices : public IKelvoHidDevices
{
public:
    void Add(_CObjectExPtr<CKelvoCartSimulator> cart);
    // A cart simulated by another process (KelvoCartSim): listed while its pipe exists.
    void AddRemote(LPCWSTR path, USHORT vendorId, USHORT productId);
    void Clear();
    // Answers every list request with this failure (CR_SUCCESS answers normally), as
    // Wine's configuration manager does with CR_FAILURE.
    void SetListFailure(CONFIGRET failure);

    CONFIGRET GetInterfaceListSize(ULONG* length, GUID classGuid) override;
    CONFIGRET GetInterfaceList(GUID classGuid, PWCHAR buffer, ULONG length) override;
    BOOLEAN GetAttributes(HANDLE device, LPCWSTR path, HIDD_ATTRIBUTES* attributes) override;

private:
    struct Entry
    {
        _CObjectExPtr<CKelvoCartSimulator> cart;   // null for a cart of another process
        CStringEx path;
        USHORT vendorId;
        USHORT productId;
        bool IsPresent() const;
    };
    std::vector<WCHAR> BuildList() const;

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    std::vector<Entry> m_carts;
    CONFIGRET m_failure = CR_SUCCESS;
};
