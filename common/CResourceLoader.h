#pragma once
#include "common/CStringEx.h"
#include "common/CUniqueAnyEx.h"

// Finds the satellite resource library KVResource of this release and serves its texts by
// string ID, falling back to the program's own string table.
class CResourceLoader
{
public:
    static CResourceLoader& Instance();

    // Programs use Instance(); a separate loader is for tools and tests.
    CResourceLoader() = default;
    virtual ~CResourceLoader() = default;
    CResourceLoader(const CResourceLoader&) = delete;
    CResourceLoader& operator=(const CResourceLoader&) = delete;

    // 0, 2 (no candidate loaded) or 425 (a candidate of another release).
    DWORD Load();
    // Serves texts and templates from a module the host process already loaded (a library
    // that takes its resource module from its caller). A reference of its own is taken, so
    // the module stays loaded while it is used; null forgets it. FALSE when the handle is
    // no loaded module.
    BOOL UseModule(HMODULE module);
    HMODULE GetModule() const;
    BOOL LoadString(UINT id, CStringEx& text, BOOL* failed = nullptr);
    void FormatString(CStringEx& text, UINT id, ...);
    void FormatStringV(CStringEx& text, UINT id, va_list args);
    // The text of a string ID, or the failure text when it is missing (see LoadString).
    CStringEx LoadText(UINT id);
    int MessageBoxRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs);
    // As MessageBoxRes, for a text already loaded and formatted.
    int MessageBoxText(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs);
    static CStringEx GetProgramVersion();
    static BOOL GetModulePath(CStringEx& folder, CStringEx& name, BOOL keepExtension);

    // Loads a text without the failure text or log line: FALSE when the string does not
    // exist. For callers that report the failure themselves (the logger).
    BOOL TryLoadString(UINT id, CStringEx& text) const;
    // Full path and version text ("%d.%d.%d.0") of the loaded library; empty until loaded.
    const CStringEx& GetLibraryPath() const { return m_libraryPath; }
    const CStringEx& GetLibraryVersion() const { return m_libraryVersion; }
    // The system default locale Load searched with (1033 until Load ran).
    DWORD GetLocale() const { return m_locale; }

    // Test seam: when set, MessageBoxRes hands the box to this function instead of showing
    // it, and returns its answer. Null (the default) shows real boxes.
    using MessageBoxHook = int (*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs);
    static void SetMessageBoxHook(MessageBoxHook hook);

private:
    enum class Candidate { Loaded, Mismatch, NotLoaded };
    Candidate TryCandidate(const CStringEx& path, DWORD* loadError);

    DWORD m_locale = 1033;
    CModuleEx m_module;
    CStringEx m_libraryPath;
    CStringEx m_libraryVersion;
};
