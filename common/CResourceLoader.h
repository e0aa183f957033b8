#pragma once
#include "common/CStringEx.h"

// Finds the satellite resource library KVResource of this release and serves its texts by
// string ID, falling back to the program's own string table.
class CResourceLoader
{
public:
    static CResourceLoader& Instance();

    // 0, 2 (no candidate loaded) or 425 (a candidate of another release).
    DWORD Load();
    HMODULE GetModule() const;
    BOOL LoadString(UINT id, CStringEx& text, BOOL* failed = nullptr);
    void FormatString(CStringEx& text, UINT id, ...);
    int MessageBoxRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs);
    static CStringEx GetProgramVersion();
    static BOOL GetModulePath(CStringEx& folder, CStringEx& name, BOOL keepExtension);

    // Test seam: when set, MessageBoxRes hands the box to this function instead of showing
    // it, and returns its answer. Null (the default) shows real boxes.
    using MessageBoxHook = int (*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs);
    static void SetMessageBoxHook(MessageBoxHook hook);
};
