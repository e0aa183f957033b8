#pragma once
#include "common/CUniqueAnyEx.h"
#include <wtsapi32.h>

// Owner of memory the terminal services allocated (a text, a list of sessions or
// processes), freed with WTSFreeMemory.
namespace kelvo_detail
{
template <class T>
struct WtsMemoryTraits
{
    using Type = T*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { WTSFreeMemory(p); }
};
}
template <class T>
using CWtsMemoryEx = CUniqueAnyEx<kelvo_detail::WtsMemoryTraits<T>>;
