#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// The two folders the product's configuration files live in, as the installer records them
// under HKLM\Software\Kelvo\Cart: ConfigFolder (program data's Kelvo\Cart\Agent) and
// InstallFolder (where the programs are). A value that is missing or is not an absolute
// local folder path counts as no folder.
class CKelvoProductFolders
{
public:
    static constexpr const wchar_t* kKey = L"Software\\Kelvo\\Cart";
    static constexpr const wchar_t* kConfigValue = L"ConfigFolder";
    static constexpr const wchar_t* kInstallValue = L"InstallFolder";

    // Reads both values (64-bit view of the registry).
    static CKelvoProductFolders Read();

    // Whether folder (no trailing backslash) is one of the two, compared without regard to
    // case. A subfolder of either is not.
    bool Holds(const CStringEx& folder) const;
    bool IsEmpty() const { return m_configFolder.IsEmpty() && m_installFolder.IsEmpty(); }

    // The folders as read, without trailing backslash; empty when not recorded.
    const CStringEx& ConfigFolder() const { return m_configFolder; }
    const CStringEx& InstallFolder() const { return m_installFolder; }

private:
    static CStringEx ReadFolder(HKEY key, LPCWSTR name);

    CStringEx m_configFolder;
    CStringEx m_installFolder;
};
