// HidStandInProbe: the agent's own cart search and one exchange, as a separate program that
// a test runs beside the cfgmgr32.dll and hid.dll stand-ins. It uses Windows' device source
// (CKelvoWindowsHidDevices, the default), so whatever it finds came through the libraries
// the loader gave it.
//   HidStandInProbe <hardware ID> [arrival-path]
// prints "found <path>", "status 0x..", "button 0x.." or what failed, and with an arrival
// path also "arrival <1|-1>" for a device-change broadcast naming that path.
// Exit code: 0 found and answered, 3 no cart found, 4 an exchange failed, 2 bad use.
#include "cartlink/CKelvoUSBComm.h"
#include "common/CResourceLoader.h"
#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        fwprintf(stderr, L"usage: HidStandInProbe <hardware ID> [arrival-path]\n");
        return 2;
    }
    if (CResourceLoader::Instance().Load() != 0)
    {
        fwprintf(stdout, L"no resource library\n");
        return 2;
    }
    CKelvoUSBComm::LoadSupportedDevices({CStringEx(argv[1])});

    if (argc > 2)
    {
        // The broadcast as the agent window receives it for an arriving interface.
        std::vector<BYTE> raw(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + (wcslen(argv[2]) + 1) * sizeof(WCHAR));
        auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(raw.data());
        broadcast->dbcc_size = static_cast<DWORD>(raw.size());
        broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        wcscpy(broadcast->dbcc_name, argv[2]);
        fwprintf(stdout, L"arrival %d\n",
                 CKelvoUSBComm::OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<DEV_BROADCAST_HDR*>(broadcast)));
        CCartUSBComm::SetDevicePath(L"");
    }

    const _CObjectExPtr<CKelvoUSBComm> transport = MakeObjectEx<CKelvoUSBComm>();
    if (!transport->FindDevice())
    {
        fwprintf(stdout, L"no cart found\n");
        return 3;
    }
    fwprintf(stdout, L"found %ls\n", CCartUSBComm::GetDevicePath().GetString());

    const CKelvoQueryStatusRequest statusRequest;
    CKelvoQueryStatusResponse status;
    const CKelvoPollForDrawerBtnRequest buttonRequest;
    CKelvoPollForDrawerBtnResponse button;
    DWORD result = transport->Transact(&statusRequest, &status);
    if (result == 0)
        result = transport->Transact(&buttonRequest, &button);
    if (result != 0)
    {
        fwprintf(stdout, L"exchange failed with %lu\n", result);
        return 4;
    }
    fwprintf(stdout, L"status 0x%02X\nbutton 0x%02X\n", status.GetStatus(), button.GetButtonState());
    return 0;
}
