#pragma once
#include <windows.h>
#include <stddef.h>

// The exports of the directory picker library KelvoAgentConfigSec.dll, linked by ordinal
// (1 to 4). Texts are wide strings; lengths count characters without the terminator.
// Buffers that the library hands out are freed by the library only.
#ifdef __cplusplus
extern "C" {
#endif

// 0 on success (or when already initialised), 87 for a null or zero argument, 425 when the
// version text is not this library's release, 14 when memory runs out.
DWORD WINAPI ConfigSecInitInstance(HINSTANCE resourceModule, const wchar_t* version, const wchar_t* caption,
                                   size_t captionLength);
// Ends the instance; the next ConfigSecInitInstance starts afresh.
void WINAPI ConfigSecTermInstance(void);
// Shows the cart-access dialog over parent for the list in value (at most valueLength
// characters are read). 1 when the user accepted: *result then holds the new list (null
// when it is empty) for ConfigSecFreeMemory; 2 when the user cancelled; -1 when the
// library is not initialised, an out pointer is null, memory ran out or the dialog could
// not be shown. A buffer already in *result is freed first.
int WINAPI ConfigSecCartAccess(HWND parent, const wchar_t* value, size_t valueLength, wchar_t** result,
                               size_t* resultLength);
// Frees a buffer returned by ConfigSecCartAccess; null does nothing.
void WINAPI ConfigSecFreeMemory(wchar_t* buffer);

#ifdef __cplusplus
}
#endif

// Ordinals of the exports.
#define CONFIGSEC_ORDINAL_INIT 1
#define CONFIGSEC_ORDINAL_TERM 2
#define CONFIGSEC_ORDINAL_CART_ACCESS 3
#define CONFIGSEC_ORDINAL_FREE_MEMORY 4
