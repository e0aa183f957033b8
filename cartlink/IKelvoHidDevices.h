#pragma once
#include "cartlink/KelvoHidApi.h"
#include "common/CObjectExPtr.h"

// The machine's HID device interfaces as the cart transport sees them: the list of present
// interfaces of a class and the vendor and product IDs of an opened device. Windows'
// configuration manager and HID class driver answer by default; a cart simulator can
// answer instead, since no HID device can exist where the agent is tested.
class IKelvoHidDevices : public CObjectEx
{
public:
    // As CM_Get_Device_Interface_List_SizeW for present interfaces: the list's length in
    // characters, both terminating zeros included.
    virtual CONFIGRET GetInterfaceListSize(ULONG* length, GUID classGuid) = 0;
    // As CM_Get_Device_Interface_ListW for present interfaces: a double-zero-terminated list.
    virtual CONFIGRET GetInterfaceList(GUID classGuid, PWCHAR buffer, ULONG length) = 0;
    // As HidD_GetAttributes on the device opened from `path`.
    virtual BOOLEAN GetAttributes(HANDLE device, LPCWSTR path, HIDD_ATTRIBUTES* attributes) = 0;
};
