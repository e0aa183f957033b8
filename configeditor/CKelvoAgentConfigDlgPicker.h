#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// The editor's calls into the directory picker library KelvoAgentConfigSec.dll, which it
// links by ordinal.
namespace KelvoAgentConfigPicker
{
// Starts the library with the editor's resource library, that library's version text and
// the editor's caption. 0 on success, otherwise the library's error code.
DWORD Start(HMODULE resources, LPCWSTR version, LPCWSTR caption);
void Stop();
// Shows the cart-access dialog over owner for the value. TRUE when the user accepted; the
// new value (empty for an empty list) is then in edited.
BOOL EditCartAccess(HWND owner, LPCWSTR value, CStringEx& edited);
}
