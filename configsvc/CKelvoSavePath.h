#pragma once
#include "common/CStringEx.h"
#include <windows.h>

class CKelvoHeldFolder;

// Which file a save may write: a ".config" file directly in one of the product's two
// folders (CKelvoProductFolders), by a plain absolute local path, in a folder that is the
// recorded folder itself and is trusted by the service (CKelvoHeldFolder, CKelvoFolderFacts),
// and not a link or a second name of another file.
class CKelvoSavePath
{
public:
    // S_OK with the file's folder held open in held (the save writes through it), or
    // E_INVALIDARG with the reason logged.
    static HRESULT Check(LPCWSTR path, CKelvoHeldFolder& held);

    // An absolute path on a drive letter ("C:\folder\name") written the way the file system
    // itself writes it: no UNC, device or stream syntax, no "." or ".." parts, no doubled
    // separators, no part that is a device name or ends in a dot or a space, shorter than
    // MAX_PATH. The text alone decides; nothing on the disk is looked at.
    static bool HasPlainForm(const CStringEx& path);
};
