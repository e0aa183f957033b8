// hid.dll stand-in: the HID class GUID and the attributes of an opened device, answering
// for handles of the simulated carts' pipes listed in HidSimDevices.h.
#include "HidSimDevices.h"
extern "C" {
#include <hidsdi.h>
}

extern "C" void NTAPI HidD_GetHidGuid(LPGUID HidGuid)
{
    if (HidGuid != nullptr)
        *HidGuid = kHidSimInterfaceClass;
}

extern "C" BOOLEAN NTAPI HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes)
{
    if (Attributes == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<HidSimDevice> devices = HidSimReadDevices();
    const HidSimDevice* device = HidSimFindByHandle(devices, HidDeviceObject);
    if (device == nullptr)
    {
        // As the HID class driver answers for a handle that is not a HID device.
        HidSimTrace(L"HidD_GetAttributes: not a simulated device");
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    Attributes->Size = sizeof(*Attributes);
    Attributes->VendorID = device->vendorId;
    Attributes->ProductID = device->productId;
    Attributes->VersionNumber = device->versionNumber;
    HidSimTrace(L"HidD_GetAttributes: %ls vendor %04X product %04X", device->path.c_str(), device->vendorId,
                device->productId);
    return TRUE;
}
