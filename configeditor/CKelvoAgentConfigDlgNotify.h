#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// How the editor tells a program that its configuration file was saved, and how it saves a
// file through the configuration service when its own account may not write it.
namespace KelvoAgentConfigNotify
{
// The message a desktop program re-reads its configuration on.
constexpr UINT WM_AGENT_RELOAD_SETTINGS = WM_USER + 13;

// Whether a process image name (as a process snapshot gives it) belongs to the program:
// the names are compared without regard to case, and a trailing ".exe" on either side is
// ignored, so "KelvoAgent" and "KelvoAgent.exe" both name KelvoAgent.exe.
bool IsImageOf(LPCWSTR imageName, LPCWSTR programName);
// The program name without a trailing ".exe".
CStringEx ProgramBaseName(LPCWSTR programName);

// Posts the reload message to every top-level dialog window ("#32770") of every running
// process of the program. Returns how many windows it was posted to; a failed post is
// logged.
int NotifyDesktopProgram(LPCWSTR programName);

// Tells a running service that its configuration changed, through the Changed method of
// its "<name>.ServiceConfig" object. S_FALSE when no process of the service runs (nothing
// is started then), S_OK when told, otherwise the failure.
HRESULT NotifyService(LPCWSTR serviceName);

// Stores the XML text as the file at path through the service's AgentConfig object on
// behalf of the named account. S_OK only when the service wrote the file.
HRESULT SaveThroughService(LPCWSTR userName, LPCWSTR domainName, LPCWSTR path, LPCWSTR xml);
}
