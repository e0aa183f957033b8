#pragma once
// Registration of the COM stand-ins in the Wine prefix, the way scripts/demo.sh does it:
// regsvr32 /s of KelvoSignOnSim.dll (the sign-on product's classes) and KelvoAdsiSim.dll
// (the LDAP: and WinNT: providers). Registering again is harmless. Which directory the
// ADSI stand-in serves is told to the agent by KELVO_ADSI_DATA (CAgentProcess::AddEnvironment).
#include "common/CStringEx.h"

// Registers one COM server DLL; 0 or regsvr32's exit code (or the error of starting it).
DWORD ScenarioRegisterComServer(LPCWSTR dllPath);
// Registers both stand-ins from `folder` (default: the running program's folder).
DWORD ScenarioRegisterStandIns(LPCWSTR folder = nullptr);
