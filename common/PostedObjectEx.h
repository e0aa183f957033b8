#pragma once
#include "common/CObjectExPtr.h"

// A posted message carries exactly one reference to its lParam object. These helpers hand
// the reference over with the post, or drop it in the same step when the post fails.

// Posts through `post`, a callable that takes the LPARAM and answers whether it was posted.
// The thread's last error of a failed post is kept for the caller.
template <class T, class PostFn>
BOOL PostObjectWith(_CObjectExPtr<T> object, PostFn&& post)
{
    T* raw = object.Detach();
    if (post(reinterpret_cast<LPARAM>(raw)))
        return TRUE;
    const DWORD error = GetLastError();
    if (raw)
        raw->Release();
    SetLastError(error);
    return FALSE;
}

template <class T>
BOOL PostObjectToThread(DWORD threadId, UINT message, WPARAM wParam, _CObjectExPtr<T> object)
{
    return PostObjectWith(std::move(object),
                          [&](LPARAM lParam) { return PostThreadMessageW(threadId, message, wParam, lParam); });
}

template <class T>
BOOL PostObjectToWindow(HWND window, UINT message, WPARAM wParam, _CObjectExPtr<T> object)
{
    return PostObjectWith(std::move(object),
                          [&](LPARAM lParam) { return PostMessageW(window, message, wParam, lParam); });
}

// Takes over the reference that a received message carries in lParam.
template <class T = CObjectEx>
_CObjectExPtr<T> TakePostedObject(LPARAM lParam)
{
    _CObjectExPtr<T> object;
    object.Attach(reinterpret_cast<T*>(lParam));
    return object;
}
