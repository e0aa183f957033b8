#include "configsvc/CKelvoSavePath.h"
#include "configsvc/CKelvoHeldFolder.h"
#include "configsvc/CKelvoProductFolders.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"
#include <cwctype>

namespace
{
bool IsReservedDeviceName(const CStringEx& component)
{
    // The part before the first dot names a device whatever follows (CON.config is CON).
    CStringEx base = component;
    const int dot = base.Find(L'.');
    if (dot >= 0)
        base = base.Left(dot);
    base.TrimRight();
    static const wchar_t* const kDevices[] = { L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$" };
    for (const wchar_t* device : kDevices)
    {
        if (base.CompareNoCase(device) == 0)
            return true;
    }
    if (base.GetLength() == 4 && (base.Left(3).CompareNoCase(L"COM") == 0 || base.Left(3).CompareNoCase(L"LPT") == 0)
        && iswdigit(base.GetAt(3)))
        return true;
    return false;
}

bool EndsWithConfig(const CStringEx& name)
{
    static const wchar_t kExtension[] = L".config";
    const int length = ARRAYSIZE(kExtension) - 1;
    return name.GetLength() > length && name.Right(length).CompareNoCase(kExtension) == 0;
}

// The drive is this computer's own.
bool IsLocalDrive(const CStringEx& path)
{
    const UINT type = GetDriveTypeW(path.Left(3));
    return type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_RAMDISK;
}
}

bool CKelvoSavePath::HasPlainForm(const CStringEx& path)
{
    const int length = path.GetLength();
    if (length < 4 || length >= MAX_PATH)
        return false;
    // A drive letter, a colon and a backslash; no other colon (streams), no forward
    // slash, wildcard or control character anywhere.
    if (!iswalpha(path.GetAt(0)) || path.GetAt(0) > L'z' || path.GetAt(1) != L':' || path.GetAt(2) != L'\\')
        return false;
    for (int i = 2; i < length; ++i)
    {
        const wchar_t c = path.GetAt(i);
        if (c < 0x20 || wcschr(L"/:*?\"<>|", c))
            return false;
    }
    // The canonical form is the path itself: no "." or ".." parts, no doubled
    // separators, no trailing dots or spaces that the file system would drop.
    wchar_t full[MAX_PATH];
    const DWORD fullLength = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH || path.Compare(full) != 0)
        return false;
    // Every part is a plain name.
    for (int start = 3; start <= length;)
    {
        int end = path.Find(L'\\', start);
        if (end < 0)
            end = length;
        const CStringEx component = path.Mid(start, end - start);
        if (component.IsEmpty() || IsReservedDeviceName(component))
            return false;
        // A folder whose name ends in a space or a dot is not the folder that a look-up of
        // the path up to it finds (the look-up drops the ending), so the reparse-point test
        // would examine another folder than the one written through.
        const wchar_t last = component.GetAt(component.GetLength() - 1);
        if (last == L' ' || last == L'.')
            return false;
        start = end + 1;
    }
    return true;
}

HRESULT CKelvoSavePath::Check(LPCWSTR path, CKelvoHeldFolder& held)
{
    CUtilLogging& log = CUtilLogging::Instance();
    const CStringEx text(path);
    if (!HasPlainForm(text) || !EndsWithConfig(text.Mid(text.ReverseFind(L'\\') + 1)))
    {
        log.LogRes(2, IDS_SVC_PATH_REFUSED, text.GetString());
        return E_INVALIDARG;
    }

    // Only the product's own two folders, and nothing below them.
    const CKelvoProductFolders folders = CKelvoProductFolders::Read();
    if (folders.IsEmpty())
    {
        log.LogRes(2, IDS_SVC_PRODUCT_FOLDERS_MISSING, text.GetString());
        return E_INVALIDARG;
    }
    const CStringEx folder = text.Left(text.ReverseFind(L'\\'));
    if (!folders.Holds(folder))
    {
        log.LogRes(2, IDS_SVC_PATH_NOT_PRODUCT_FOLDER, text.GetString(), folders.ConfigFolder().GetString(),
                   folders.InstallFolder().GetString());
        return E_INVALIDARG;
    }

    // The folder is judged by its handle, held until the save ends, and the file by a
    // handle opened relative to it: nothing is looked up by the path again.
    if (!IsLocalDrive(text) || FAILED(held.Hold(folder, path)) || FAILED(held.CheckTarget(text.Mid(folder.GetLength() + 1))))
    {
        log.LogRes(2, IDS_SVC_PATH_REFUSED, text.GetString());
        return E_INVALIDARG;
    }
    return S_OK;
}
