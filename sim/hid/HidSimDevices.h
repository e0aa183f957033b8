#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The HID devices that the stand-in cfgmgr32.dll and hid.dll present: cart simulators on
// named pipes, each with the vendor ID, product ID and version number it reports.
//
// The list is read afresh at every call, from the environment variable
// KELVO_HID_SIM_DEVICES when it is set, otherwise from KelvoHidSim.ini beside the DLL.
// One device per entry, entries separated by '|' or by line ends:
//     \\.\pipe\KelvoCart;0B6A;0417[;0100]
// path;vendor ID;product ID[;version number], the numbers in hexadecimal (an optional 0x
// is allowed); a path without a leading backslash is taken as a pipe name below \\.\pipe\.
// Lines starting with '#' are comments. An entry that does not parse is left out and
// reported on the trace.
//
// KELVO_HID_SIM_TRACE, when set, names a file that gets one line per call of the stand-ins,
// so that a test or the demo can see that the program reached them.
struct HidSimDevice
{
    std::wstring path;
    USHORT vendorId = 0;
    USHORT productId = 0;
    USHORT versionNumber = 0x0100;

    // A device is present while its pipe exists (busy instances included).
    bool IsPresent() const;
};

// The HID interface class GUID, {4D1E55B2-F16F-11CF-88CB-001111000030}.
extern const GUID kHidSimInterfaceClass;

std::vector<HidSimDevice> HidSimReadDevices();
// The double-zero-terminated interface list of the configured devices; with presentOnly,
// only those whose pipe exists.
std::vector<WCHAR> HidSimBuildInterfaceList(const std::vector<HidSimDevice>& devices, bool presentOnly);
// The configured device whose pipe the handle was opened on, or null.
const HidSimDevice* HidSimFindByHandle(const std::vector<HidSimDevice>& devices, HANDLE handle);
// Appends one line to the trace file, when one is configured.
void HidSimTrace(const wchar_t* format, ...);
