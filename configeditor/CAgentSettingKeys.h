#pragma once
#include "common/CStringEx.h"
#include <vector>

// Names of the keys a Key setting can hold. A Key value is a virtual-key code in the low
// byte plus modifier bits; the names come from the satellite texts, loaded once for the
// process the first time they are needed.
class CAgentSettingKeys
{
public:
    static constexpr DWORD kShift = 0x10000;
    static constexpr DWORD kCtrl = 0x20000;
    static constexpr DWORD kAlt = 0x40000;
    static constexpr DWORD kCodeMask = 0xFF;

    // Loads every key name; later calls do nothing.
    static void EnsureLoaded();
    // The value as shown: modifier names (Alt, Ctrl, Shift; only with a key code), then
    // the key's name.
    static CStringEx GetDisplayName(DWORD value);
    // The name of one virtual-key code: "none" for 0, the character for digits and
    // letters, F1 to F12, the named keys, otherwise "unknown".
    static CStringEx GetKeyName(DWORD code);
    // The codes of the key list, in the order the value editor offers them: none, F1 to
    // F12, A to Z, 0 to 9, then the named keys.
    static const std::vector<DWORD>& GetListCodes();
};
