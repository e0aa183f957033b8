#pragma once
#include <windows.h>

// Points the module's imports of NetGetJoinInformation and GetComputerNameExW at answers of
// a computer joined to the domain named (its DNS name and its NetBIOS name alike); the other
// name formats are asked of the system. Nothing else of the module changes.
void SimJoinModuleToDomain(HMODULE module, LPCWSTR domain);
