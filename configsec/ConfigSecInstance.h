#pragma once
#include "common/CStringEx.h"
#include "common/CUniqueAnyEx.h"
#include <memory>

// The picker library's single state: created by the first ConfigSecInitInstance and
// deleted by ConfigSecTermInstance. It owns the rich-edit library the names box needs and
// the caption every message box of the library shows.
class ConfigSecInstance
{
public:
    ConfigSecInstance() = default;
    virtual ~ConfigSecInstance();
    ConfigSecInstance(const ConfigSecInstance&) = delete;
    ConfigSecInstance& operator=(const ConfigSecInstance&) = delete;

    // The library's own release text; ConfigSecInitInstance accepts no other.
    static const wchar_t* const kVersion;

    // The steps of ConfigSecInitInstance after the instance exists: 0, 87 or 425 (or 14
    // when memory runs out). Reads at most captionLength characters of the caption.
    DWORD Initialise(HINSTANCE resourceModule, const wchar_t* version, const wchar_t* caption, size_t captionLength);
    BOOL IsInitialised() const noexcept { return m_initialised; }

    // The current instance (null before the first ConfigSecInitInstance and after Term).
    static ConfigSecInstance* Current() noexcept;
    static ConfigSecInstance& Create();
    static void Delete() noexcept;

    // The caption of the library's message boxes (empty while not initialised).
    static const wchar_t* Caption() noexcept;
    // Shows a message box with the text of a string ID, the library's caption and owner.
    static int MessageBox(HWND owner, UINT textId, UINT style = MB_OK | MB_ICONWARNING);
    static int MessageBoxText(HWND owner, LPCWSTR text, UINT style = MB_OK | MB_ICONWARNING);

private:
    BOOL m_initialised = FALSE;
    CModuleEx m_richEdit;
    std::unique_ptr<wchar_t[]> m_caption;
    CStringEx m_reserved[6];
};

// The heap of the buffers the library hands to its callers: only the library frees them.
class ConfigSecHeap
{
public:
    // A buffer of count wide characters, or null when memory runs out.
    static wchar_t* Allocate(size_t count) noexcept;
    static void Free(wchar_t* buffer) noexcept;

    // Test seam: when set, Allocate answers null for every request, as when memory runs out.
    static void SetFailAllocations(bool fail) noexcept;
};
