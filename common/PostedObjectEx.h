#pragma once
#include "common/CObjectExPtr.h"

// A posted message carries exactly one reference to its lParam object. These helpers hand
// the reference over with the post, or drop it in the same step when the post fails.

template <class T>
BOOL PostObjectToThread(DWORD threadId, UINT message, WPARAM wParam, _CObjectExPtr<T> object)
{
    T* raw = object.Detach();
    if (PostThreadMessageW(threadId, message, wParam, reinterpret_cast<LPARAM>(raw)))
        return TRUE;
    const DWORD error = GetLastError();
    if (raw)
        raw->Release();
    SetLastError(error);
    return FALSE;
}

template <class T>
BOOL PostObjectToWindow(HWND window, UINT message, WPARAM wParam, _CObjectExPtr<T> object)
{
    T* raw = object.Detach();
    if (PostMessageW(window, message, wParam, reinterpret_cast<LPARAM>(raw)))
        return TRUE;
    const DWORD error = GetLastError();
    if (raw)
        raw->Release();
    SetLastError(error);
    return FALSE;
}

// Takes over the reference that a received message carries in lParam.
template <class T = CObjectEx>
_CObjectExPtr<T> TakePostedObject(LPARAM lParam)
{
    _CObjectExPtr<T> object;
    object.Attach(reinterpret_cast<T*>(lParam));
    return object;
}
