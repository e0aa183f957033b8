#include "configeditor/CKelvoAgentConfigDlgPicker.h"
#include "configsec/ConfigSec.h"
#include <memory>

namespace KelvoAgentConfigPicker
{
namespace
{
// Hands the picker library's text back to it when it goes out of scope.
struct PickerTextFree
{
    void operator()(wchar_t* text) const { ConfigSecFreeMemory(text); }
};
using PickerText = std::unique_ptr<wchar_t, PickerTextFree>;
}

DWORD Start(HMODULE resources, LPCWSTR version, LPCWSTR caption)
{
    return ConfigSecInitInstance(resources, version, caption, wcslen(caption));
}

void Stop()
{
    ConfigSecTermInstance();
}

BOOL EditCartAccess(HWND owner, LPCWSTR value, CStringEx& edited)
{
    wchar_t* raw = nullptr;
    size_t length = 0;
    const int answer = ConfigSecCartAccess(owner, value, wcslen(value), &raw, &length);
    PickerText text(raw);
    // A list the library could not hand over (its memory ran out) changes nothing.
    if (answer != IDOK || (!text && length != 0))
        return FALSE;
    edited = text ? CStringEx(text.get(), static_cast<int>(length)) : CStringEx();
    return TRUE;
}
}
