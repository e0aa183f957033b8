#pragma once
#include "common/CUniqueAnyEx.h"
#include <windows.h>

// Owners of the user-interface handles the dialogs hold: icons, menus, GDI objects and
// device contexts. Each is released when its owner goes.
namespace kelvo_detail
{
struct IconTraits { using Type = HICON; static Type Invalid() { return nullptr; } static void Close(Type h) { DestroyIcon(h); } };
struct MenuTraits { using Type = HMENU; static Type Invalid() { return nullptr; } static void Close(Type h) { DestroyMenu(h); } };
struct GdiTraits { using Type = HGDIOBJ; static Type Invalid() { return nullptr; } static void Close(Type h) { DeleteObject(h); } };
struct MemDcTraits { using Type = HDC; static Type Invalid() { return nullptr; } static void Close(Type h) { DeleteDC(h); } };
}

using CIconEx = CUniqueAnyEx<kelvo_detail::IconTraits>;
using CMenuEx = CUniqueAnyEx<kelvo_detail::MenuTraits>;
using CGdiObjectEx = CUniqueAnyEx<kelvo_detail::GdiTraits>;
using CMemoryDcEx = CUniqueAnyEx<kelvo_detail::MemDcTraits>;

// A window's device context from GetDC, released with ReleaseDC.
class CWindowDcEx
{
public:
    explicit CWindowDcEx(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~CWindowDcEx() { if (m_dc) ReleaseDC(m_window, m_dc); }
    CWindowDcEx(const CWindowDcEx&) = delete;
    CWindowDcEx& operator=(const CWindowDcEx&) = delete;
    HDC Get() const noexcept { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};
