#include "configsec/ConfigSecInstance.h"
#include "common/CResourceLoader.h"
#include "KelvoVersion.h"
#include <commctrl.h>
#include <atomic>
#include <new>

const wchar_t* const ConfigSecInstance::kVersion = KELVO_VERSION_TEXT;

namespace
{
// The answer to a version text of another release (the code the resource loader gives a
// satellite library of another release).
const DWORD kVersionRefused = 425;
}

namespace
{
ConfigSecInstance* g_instance = nullptr;
// The caption of the current instance, for code that has no instance at hand.
const wchar_t* g_caption = L"";

std::atomic<bool> g_failAllocations{ false };

// The library's own heap, made on first use and kept for the life of the module, so a
// buffer stays valid (and freeable) even when the caller ends the instance first.
HANDLE LibraryHeap() noexcept
{
    static const HANDLE heap = HeapCreate(0, 0, 0);
    return heap;
}
}

ConfigSecInstance::~ConfigSecInstance()
{
    // The resource loader keeps the caller's module only while an instance uses it.
    CResourceLoader::Instance().UseModule(nullptr);
}

DWORD ConfigSecInstance::Initialise(HINSTANCE resourceModule, const wchar_t* version, const wchar_t* caption,
                                    size_t captionLength)
{
    if (m_initialised)
        return 0;
    if (resourceModule == nullptr || version == nullptr || caption == nullptr || captionLength == 0)
        return ERROR_INVALID_PARAMETER;
    // Only the exact release text; the version may be any text, so it is compared within
    // one character more than the expected length.
    const size_t expected = wcslen(kVersion);
    if (wcsnlen(version, expected + 1) != expected || wcsncmp(version, kVersion, expected) != 0)
        return kVersionRefused;

    const size_t length = wcsnlen(caption, captionLength);
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
    if (!copy)
        return ERROR_NOT_ENOUGH_MEMORY;
    wmemcpy(copy.get(), caption, length);
    copy[length] = L'\0';
    if (!CResourceLoader::Instance().UseModule(resourceModule))
        return ERROR_INVALID_PARAMETER;

    InitCommonControls();
    // The names box of the selection dialog is a rich edit; without the library the
    // dialog cannot be created, which it reports when it is opened.
    m_richEdit.Reset(LoadLibraryW(L"Msftedit.dll"));
    m_caption = std::move(copy);
    g_caption = m_caption.get();
    m_initialised = TRUE;
    return 0;
}

ConfigSecInstance* ConfigSecInstance::Current() noexcept
{
    return g_instance;
}

ConfigSecInstance& ConfigSecInstance::Create()
{
    if (!g_instance)
        g_instance = new ConfigSecInstance();
    return *g_instance;
}

void ConfigSecInstance::Delete() noexcept
{
    g_caption = L"";
    delete g_instance;
    g_instance = nullptr;
}

const wchar_t* ConfigSecInstance::Caption() noexcept
{
    return g_caption;
}

int ConfigSecInstance::MessageBox(HWND owner, UINT textId, UINT style)
{
    return CResourceLoader::Instance().MessageBoxRes(owner, textId, Caption(), style, 0);
}

int ConfigSecInstance::MessageBoxText(HWND owner, LPCWSTR text, UINT style)
{
    // The hook of the resource loader sees these boxes too.
    return CResourceLoader::Instance().MessageBoxText(owner, text, Caption(), style, 0);
}

wchar_t* ConfigSecHeap::Allocate(size_t count) noexcept
{
    if (g_failAllocations || count > SIZE_MAX / sizeof(wchar_t))
        return nullptr;
    HANDLE heap = LibraryHeap();
    return heap ? static_cast<wchar_t*>(HeapAlloc(heap, 0, count * sizeof(wchar_t))) : nullptr;
}

void ConfigSecHeap::Free(wchar_t* buffer) noexcept
{
    // Only a block of this heap is freed: a stale or foreign pointer in the caller's
    // variable must not corrupt anything.
    HANDLE heap = LibraryHeap();
    if (buffer && heap && HeapValidate(heap, 0, buffer))
        HeapFree(heap, 0, buffer);
}

void ConfigSecHeap::SetFailAllocations(bool fail) noexcept
{
    g_failAllocations = fail;
}
