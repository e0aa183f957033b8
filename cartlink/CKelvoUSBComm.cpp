#include "cartlink/CKelvoUSBComm.h"
#include "cartlink/CKelvoUSBCommStaticData.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsCartLink.h"
#include <cwchar>
#include <memory>
#include <new>

namespace
{
// The hexadecimal number that follows the token and one separator character; 0 when the
// token is absent or no digits follow.
LONG ParseIdAfter(const CStringEx& text, const CStringEx& token)
{
    const int at = text.Find(token);
    if (at < 0)
        return 0;
    const int digits = at + token.GetLength() + 1;
    if (digits > text.GetLength())
        return 0;
    return wcstol(text.GetString() + digits, nullptr, 16);
}

CUtilLogging& Log()
{
    return CUtilLogging::Instance();
}
}

void CKelvoUSBComm::LoadSupportedDevices(const std::vector<CStringEx>& hardwareIds)
{
    if (hardwareIds.empty())
        return;
    CKelvoUSBCommStaticData& data = CKelvoUSBCommStaticData::Instance();
    data.ClearSupportedDevices();

    // A token that fails to load reads as its failure text, which no hardware ID holds.
    CStringEx vendorToken, productToken;
    CResourceLoader::Instance().LoadString(IDS_CART_VENDOR_ID_TOKEN, vendorToken);
    CResourceLoader::Instance().LoadString(IDS_CART_PRODUCT_ID_TOKEN, productToken);
    for (const CStringEx& hardwareId : hardwareIds)
    {
        if (hardwareId.Find(vendorToken) < 0)
            continue;
        data.AddSupportedDevice(ParseIdAfter(hardwareId, vendorToken), ParseIdAfter(hardwareId, productToken));
    }
}

BOOL CKelvoUSBComm::ProbeDevice(LPCWSTR path)
{
    CFileHandleEx device(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device)
        return FALSE;
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(attributes);
    if (!CKelvoUSBCommStaticData::Instance().GetHidDevices()->GetAttributes(device.Get(), path, &attributes))
        return FALSE;
    Log().LogRes(5, IDS_CART_DEVICE_IDS, attributes.VendorID, attributes.ProductID);
    // The product ID is logged but only the vendor ID decides.
    if (!CKelvoUSBCommStaticData::Instance().IsSupportedVendor(attributes.VendorID))
        return FALSE;
    Log().LogRes(1, IDS_CART_DEVICE_FOUND, path);
    return TRUE;
}

BOOL CKelvoUSBComm::FindDevice()
{
    try
    {
        CKelvoUSBCommStaticData& data = CKelvoUSBCommStaticData::Instance();
        if (data.IsTableEmpty())
        {
            Log().LogRes(1, IDS_CART_NO_DEVICES_CONFIGURED);
            return FALSE;
        }
        const _CObjectExPtr<IKelvoHidDevices> devices = data.GetHidDevices();
        GUID hidGuid = {};
        HidD_GetHidGuid(&hidGuid);

        ULONG length = 0;
        CONFIGRET result = devices->GetInterfaceListSize(&length, hidGuid);
        if (result != CR_SUCCESS)
        {
            Log().LogRes(2, IDS_CART_LIST_SIZE_FAILED, result);
            return FALSE;
        }
        if (length == 0)
        {
            Log().LogRes(2, IDS_CART_LIST_EMPTY);
            return FALSE;
        }
        std::unique_ptr<WCHAR[]> list(new (std::nothrow) WCHAR[length]());
        if (!list)
        {
            Log().LogRes(2, IDS_CART_LIST_NO_MEMORY);
            return FALSE;
        }
        result = devices->GetInterfaceList(hidGuid, list.get(), length);
        if (result != CR_SUCCESS)
        {
            Log().LogRes(2, IDS_CART_LIST_FAILED, result);
            return FALSE;
        }

        // The first supported device in the list becomes the current cart.
        for (const WCHAR* path = list.get(); path < list.get() + length && *path; path += wcslen(path) + 1)
        {
            if (ProbeDevice(path))
            {
                SetDevicePath(path);
                return TRUE;
            }
        }
        Log().LogRes(4, IDS_CART_NO_DEVICE_FOUND);
        return FALSE;
    }
    catch (const std::exception&)
    {
        // Only an allocation of a string can fail here; the search simply found nothing.
        return FALSE;
    }
}

BOOL CKelvoUSBComm::IsSupportedDevice(LPCWSTR path)
{
    if (CKelvoUSBCommStaticData::Instance().IsTableEmpty())
    {
        Log().LogRes(1, IDS_CART_NO_DEVICES_CONFIGURED);
        return FALSE;
    }
    if (path == nullptr || *path == L'\0')
        return FALSE;
    try
    {
        return ProbeDevice(path);
    }
    catch (const std::exception&)
    {
        return FALSE;
    }
}

CHandleEx CKelvoUSBComm::Open(LPCWSTR path)
{
    try
    {
        const CStringEx target = (path && *path) ? CStringEx(path) : GetDevicePath();
        if (target.IsEmpty())
            return CHandleEx();
        return CHandleEx(CreateFileW(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    }
    catch (const std::exception&)
    {
        return CHandleEx();
    }
}

DWORD CKelvoUSBComm::QueryDeviceIdentity()
{
    if (Log().GetLevel() < 4 || GetDevicePath().IsEmpty())
        return 0;
    try
    {
        TKelvoUSBCommRequest<KELVO_CMD_PROTOCOL_VERSION> versionRequest;
        CKelvoProtocolVerResponse version;
        if (Transact(&versionRequest, &version) != KELVO_RESULT_OK || version.GetProtocolVersion() == 0)
            return 1;
        TKelvoUSBCommRequest<KELVO_CMD_SERIAL_NUMBER> serialRequest;
        CKelvoSerialNumberResponse serial;
        if (Transact(&serialRequest, &serial) != KELVO_RESULT_OK)
            return 1;
        TKelvoUSBCommRequest<KELVO_CMD_FIRMWARE_VERSION> firmwareRequest;
        CKelvoFirmwareVersionResponse firmware;
        if (Transact(&firmwareRequest, &firmware) != KELVO_RESULT_OK)
            return 1;
        Log().LogRes(4, IDS_CART_DEVICE_IDENTITY, static_cast<UINT>(version.GetProtocolVersion()),
                     serial.GetSerialNumber().GetString(), firmware.GetFirmwareVersion().GetString());
        return 0;
    }
    catch (const std::exception&)
    {
        return 1;
    }
}

int CKelvoUSBComm::OnDeviceChange(UINT_PTR event, const DEV_BROADCAST_HDR* header)
{
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return -1;
    const auto* deviceInterface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    const LPCWSTR name = deviceInterface->dbcc_name;
    try
    {
        switch (event)
        {
        case DBT_DEVICEARRIVAL:
        {
            if (*name == L'\0')
                return -1;
            Log().LogRes(4, IDS_CART_DEVICE_ARRIVED, name);
            const _CObjectExPtr<CKelvoUSBComm> probe = MakeObjectEx<CKelvoUSBComm>();
            if (!probe->IsSupportedDevice(name))
                return -1;
            SetDevicePath(name);
            return 1;
        }
        case DBT_DEVICEREMOVECOMPLETE:
            if (*name == L'\0')
                return -1;
            Log().LogRes(4, IDS_CART_DEVICE_REMOVED, name);
            return ClearDevicePathIf(name) ? 0 : -1;
        case DBT_DEVICEQUERYREMOVEFAILED:
            Log().LogRes(4, IDS_CART_QUERY_REMOVE_FAILED);
            return -1;
        default:
            return -1;
        }
    }
    catch (const std::exception&)
    {
        return -1;
    }
}
