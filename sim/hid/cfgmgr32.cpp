// cfgmgr32.dll stand-in: the configuration manager's list of device interfaces, answering
// for the HID interface class with the simulated carts of HidSimDevices.h. Every other
// class has no interfaces here.
#define _CFGMGR32_
#include "HidSimDevices.h"
#include <cfgmgr32.h>
#include <cstring>

namespace
{
bool IsValidFlags(ULONG flags)
{
    return (flags & ~CM_GET_DEVICE_INTERFACE_LIST_BITS) == 0;
}

// The list for a class and an optional device instance. Only the HID class has devices,
// and none of them is a device instance that can be named.
std::vector<WCHAR> InterfaceList(const GUID& classGuid, const WCHAR* deviceId, ULONG flags)
{
    std::vector<HidSimDevice> devices;
    if (IsEqualGUID(classGuid, kHidSimInterfaceClass) && (deviceId == nullptr || *deviceId == L'\0'))
        devices = HidSimReadDevices();
    const bool presentOnly = (flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES) == 0;
    return HidSimBuildInterfaceList(devices, presentOnly);
}
}

extern "C" CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG pulLen, LPGUID InterfaceClassGuid,
                                                               DEVINSTID_W pDeviceID, ULONG ulFlags)
{
    if (pulLen == nullptr || InterfaceClassGuid == nullptr)
        return CR_INVALID_POINTER;
    *pulLen = 0;
    if (!IsValidFlags(ulFlags))
        return CR_INVALID_FLAG;
    *pulLen = static_cast<ULONG>(InterfaceList(*InterfaceClassGuid, pDeviceID, ulFlags).size());
    HidSimTrace(L"CM_Get_Device_Interface_List_SizeW: %lu characters", *pulLen);
    return CR_SUCCESS;
}

extern "C" CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID InterfaceClassGuid, DEVINSTID_W pDeviceID,
                                                          PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags)
{
    if (InterfaceClassGuid == nullptr || Buffer == nullptr)
        return CR_INVALID_POINTER;
    if (!IsValidFlags(ulFlags))
        return CR_INVALID_FLAG;
    const std::vector<WCHAR> list = InterfaceList(*InterfaceClassGuid, pDeviceID, ulFlags);
    if (list.size() > BufferLen)
    {
        // A device that arrived since the size was asked: the caller asks again.
        HidSimTrace(L"CM_Get_Device_Interface_ListW: %lu characters do not fit in %lu",
                    static_cast<ULONG>(list.size()), BufferLen);
        if (BufferLen > 0)
            Buffer[0] = L'\0';
        return CR_BUFFER_SMALL;
    }
    memcpy(Buffer, list.data(), list.size() * sizeof(WCHAR));
    HidSimTrace(L"CM_Get_Device_Interface_ListW: %ls", list[0] ? list.data() : L"(none)");
    return CR_SUCCESS;
}
