#pragma once
#include <windows.h>
#include <objbase.h>
#include <utility>

// Owner of one non-kernel resource (module, registry key, find handle, task memory...),
// released through its traits when the owner goes. Traits give Type, Invalid() and Close().
template <typename Traits>
class CUniqueAnyEx
{
public:
    using T = typename Traits::Type;

    CUniqueAnyEx() noexcept = default;
    explicit CUniqueAnyEx(T value) noexcept : m_value(value) {}
    CUniqueAnyEx(const CUniqueAnyEx&) = delete;
    CUniqueAnyEx& operator=(const CUniqueAnyEx&) = delete;
    CUniqueAnyEx(CUniqueAnyEx&& other) noexcept : m_value(other.Detach()) {}
    CUniqueAnyEx& operator=(CUniqueAnyEx&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    ~CUniqueAnyEx() { Reset(); }

    T Get() const noexcept { return m_value; }
    bool IsValid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }
    T* Put() noexcept { Reset(); return &m_value; }
    T Detach() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    void Reset(T value = Traits::Invalid()) noexcept
    {
        T old = std::exchange(m_value, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    T m_value = Traits::Invalid();
};

namespace kelvo_detail
{
struct ModuleTraits { using Type = HMODULE; static Type Invalid() { return nullptr; } static void Close(Type m) { FreeLibrary(m); } };
struct RegKeyTraits { using Type = HKEY; static Type Invalid() { return nullptr; } static void Close(Type k) { RegCloseKey(k); } };
struct FindTraits { using Type = HANDLE; static Type Invalid() { return INVALID_HANDLE_VALUE; } static void Close(Type h) { FindClose(h); } };
struct FileTraits { using Type = HANDLE; static Type Invalid() { return INVALID_HANDLE_VALUE; } static void Close(Type h) { CloseHandle(h); } };
struct TaskMemTraits { using Type = void*; static Type Invalid() { return nullptr; } static void Close(Type p) { CoTaskMemFree(p); } };
struct KernelHandleTraits { using Type = HANDLE; static Type Invalid() { return nullptr; } static void Close(Type h) { CloseHandle(h); } };
struct LocalMemTraits { using Type = HLOCAL; static Type Invalid() { return nullptr; } static void Close(Type p) { LocalFree(p); } };
}

using CModuleEx = CUniqueAnyEx<kelvo_detail::ModuleTraits>;
using CRegKeyEx = CUniqueAnyEx<kelvo_detail::RegKeyTraits>;
using CFindHandleEx = CUniqueAnyEx<kelvo_detail::FindTraits>;
// A file handle one scope owns alone (CHandleEx is for handles shared between owners).
using CFileHandleEx = CUniqueAnyEx<kelvo_detail::FileTraits>;
using CTaskMemEx = CUniqueAnyEx<kelvo_detail::TaskMemTraits>;
using CLocalMemEx = CUniqueAnyEx<kelvo_detail::LocalMemTraits>;
// A kernel handle that is null when absent (tokens, threads), owned by one scope.
using CKernelHandleEx = CUniqueAnyEx<kelvo_detail::KernelHandleTraits>;
