#pragma once
#include "cartlink/IKelvoHidDevices.h"

// The HID device interfaces as Windows reports them.
class CKelvoWindowsHidDevices : public IKelvoHidDevices
{
public:
    CONFIGRET GetInterfaceListSize(ULONG* length, GUID classGuid) override;
    CONFIGRET GetInterfaceList(GUID classGuid, PWCHAR buffer, ULONG length) override;
    BOOLEAN GetAttributes(HANDLE device, LPCWSTR path, HIDD_ATTRIBUTES* attributes) override;
};
