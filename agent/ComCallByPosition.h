// Calls a COM interface method by its position in the interface's table of virtual
// functions. The sign-on product documents its interfaces by position only, so the agent
// reaches them this way instead of through a compiled declaration.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include "common/CErrorEx.h"

// Position 0 is QueryInterface; the three IUnknown and four IDispatch functions come first
// in a dual interface, so the product's own methods start at 7.
template <class... Args>
HRESULT CallComMethod(IUnknown* object, UINT position, Args... args)
{
    if (object == nullptr)
        return E_POINTER;
    using Method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
    void* const* table = *reinterpret_cast<void* const* const*>(object);
    return reinterpret_cast<Method>(table[position])(object, args...);
}

// The same call inside an operation: a missing interface or a failed result is thrown.
template <class... Args>
void InvokeComMethod(IUnknown* object, UINT position, Args... args)
{
    ThrowIfFailed(CallComMethod(object, position, args...));
}
