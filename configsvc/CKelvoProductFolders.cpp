#include "configsvc/CKelvoProductFolders.h"
#include "configsvc/CKelvoSavePath.h"
#include "common/CUniqueAnyEx.h"

CStringEx CKelvoProductFolders::ReadFolder(HKEY key, LPCWSTR name)
{
    wchar_t value[MAX_PATH + 1] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return CStringEx();
    // The installer writes folders with a trailing backslash.
    CStringEx folder(value);
    while (folder.GetLength() > 3 && folder.GetAt(folder.GetLength() - 1) == L'\\')
        folder = folder.Left(folder.GetLength() - 1);
    // A drive's root, a relative or network path names no folder of the product.
    if (!CKelvoSavePath::HasPlainForm(folder))
        return CStringEx();
    return folder;
}

CKelvoProductFolders CKelvoProductFolders::Read()
{
    CKelvoProductFolders folders;
    CRegKeyEx key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put()) != ERROR_SUCCESS)
        return folders;
    folders.m_configFolder = ReadFolder(key.Get(), kConfigValue);
    folders.m_installFolder = ReadFolder(key.Get(), kInstallValue);
    return folders;
}

bool CKelvoProductFolders::Holds(const CStringEx& folder) const
{
    for (const CStringEx* known : { &m_configFolder, &m_installFolder })
    {
        if (!known->IsEmpty() && known->CompareNoCase(folder) == 0)
            return true;
    }
    return false;
}
