#pragma once
// A scratch folder that holds one scenario's programs: a copy of the program under test
// (KelvoAgent.exe by default), KVResource.dll, the HID stand-ins cfgmgr32.dll and hid.dll
// with their device list (KelvoHidSim.ini), the terminal services' stand-in wtsapi32.dll, and the program's configuration file, named as
// the program looks for it beside itself: "<program file name>.config", for the agent
// "KelvoAgent.exe.config". The folder and everything in it goes with the object, unless
// Keep() asked to leave it for inspection.
//
// Under Wine the program is made to load the stand-ins beside it rather than Wine's own
// libraries by the per-program override HKCU\Software\Wine\AppDefaults\<program>\DllOverrides
// (cfgmgr32, hid and wtsapi32 = native,builtin), written by Create: what WINEDLLOVERRIDES="cfgmgr32,hid=n,b"
// does from a shell. Wine ignores WINEDLLOVERRIDES in the environment that a Windows program
// passes to CreateProcess (it takes the Unix environment of its first program), so that
// variable cannot be set for one scenario. The override stays in the prefix; where a program
// of that name has no stand-ins beside it, Wine's own libraries load as before.
#include "sim/driver/CScenarioResources.h"
#include <string>
#include <vector>

class CScenarioFolder
{
public:
    struct HidDevice
    {
        CStringEx path;      // the cart simulator's pipe, \\.\pipe\<name>
        USHORT vendorId;
        USHORT productId;
    };
    // One configuration entry: its key by string ID and its values (one, or a list).
    struct Setting
    {
        UINT keyId;
        std::vector<CStringEx> values;
    };

    CScenarioFolder() = default;
    ~CScenarioFolder();
    CScenarioFolder(const CScenarioFolder&) = delete;
    CScenarioFolder& operator=(const CScenarioFolder&) = delete;

    // Makes a new uniquely named folder below the temporary folder and copies the program,
    // KVResource.dll and the stand-ins into it from `sourceFolder` (default: the running
    // program's folder; the stand-ins from its "standins" subfolder). Fails when a copy of
    // the program's configuration lies in the shared program-data folder, since the
    // program would read that one instead. 0 or a Windows error; see GetErrorText().
    DWORD Create(LPCWSTR programName = L"KelvoAgent.exe", LPCWSTR sourceFolder = nullptr);
    // Copies one more file in, under its own or the given name.
    DWORD CopyIn(LPCWSTR sourcePath, LPCWSTR name = nullptr);

    // Writes the program's configuration file with these entries.
    DWORD WriteConfig(const std::vector<Setting>& settings);
    // Copies a prepared configuration file in as the program's configuration file.
    DWORD CopyConfig(LPCWSTR sourcePath);
    // Writes the HID stand-ins' device list; an empty list presents no device.
    DWORD SetHidDevices(const std::vector<HidDevice>& devices);
    // The hardware-ID text by which the agent's configuration names a supported cart,
    // made of the vendor- and product-ID tokens of the scenario's KVResource.
    CStringEx HardwareId(USHORT vendorId, USHORT productId) const;

    const CStringEx& GetPath() const { return m_path; }
    CStringEx PathOf(LPCWSTR name) const;
    const CStringEx& GetProgramPath() const { return m_programPath; }
    CStringEx GetConfigPath() const;
    // The file the stand-ins trace their calls into when a program is started with it.
    CStringEx GetHidTracePath() const { return PathOf(L"KelvoHidSim.trace"); }
    // What the stand-ins traced so far; empty when nothing was.
    std::string ReadHidTrace() const;
    const CScenarioResources& GetResources() const { return m_resources; }
    const CStringEx& GetErrorText() const { return m_error; }
    // Leaves the folder in place when the object goes.
    void Keep() { m_keep = true; }

private:
    DWORD Fail(DWORD error, LPCWSTR format, ...);
    DWORD CheckNoSharedConfig();
    DWORD PreferStandIns(LPCWSTR programName);

    CStringEx m_path;
    CStringEx m_programPath;
    CScenarioResources m_resources;
    CStringEx m_error;
    bool m_keep = false;
};
