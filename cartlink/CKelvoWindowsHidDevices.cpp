#include "cartlink/CKelvoWindowsHidDevices.h"

CONFIGRET CKelvoWindowsHidDevices::GetInterfaceListSize(ULONG* length, GUID classGuid)
{
    return CM_Get_Device_Interface_List_SizeW(length, &classGuid, nullptr, CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
}

CONFIGRET CKelvoWindowsHidDevices::GetInterfaceList(GUID classGuid, PWCHAR buffer, ULONG length)
{
    return CM_Get_Device_Interface_ListW(&classGuid, nullptr, buffer, length, CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
}

BOOLEAN CKelvoWindowsHidDevices::GetAttributes(HANDLE device, LPCWSTR, HIDD_ATTRIBUTES* attributes)
{
    attributes->Size = sizeof(*attributes);
    return HidD_GetAttributes(device, attributes);
}
