#pragma once
#include "common/CStringEx.h"
#include "common/CUniqueAnyEx.h"
#include <windows.h>
#include <aclapi.h>
#include <vector>

// One of the product's folders, opened once and held for the whole of a save. It is judged
// from its handle (a plain folder, not a link; the recorded folder itself by its final
// path; owned by SYSTEM, Administrators or the service's account), and held without
// FILE_SHARE_DELETE, so that it cannot be renamed or replaced while held. Every file of the
// save is opened relative to that handle and never by a path: a link swapped into the path
// after the folder was judged leads nowhere.
class CKelvoHeldFolder
{
public:
    // Opens and judges folder (an absolute path without trailing backslash). S_OK, or
    // E_INVALIDARG with the reason logged (path names the file asked for).
    HRESULT Hold(const CStringEx& folder, LPCWSTR path);

    // Whether the file name (no folder part) may be written: missing, or an existing
    // plain file with one name, directly in the held folder. A file that cannot be examined
    // is refused. S_OK or E_INVALIDARG (logged).
    HRESULT CheckTarget(const CStringEx& name) const;

    // Stores bytes as the file name for the account caller: a new temporary file directly in
    // the held folder takes the data (flushed) and the file's whole descriptor
    // (FileDescriptor), set on its handle, and is then renamed over the name within the
    // folder. S_OK or the failure (logged); a temporary file is deleted by its handle
    // whatever fails.
    HRESULT Write(const CStringEx& name, const std::vector<BYTE>& bytes, PSID caller) const;

    // A written file's whole descriptor, as the folder's lock intends for its files: owned by
    // Administrators; SYSTEM, Administrators and the caller's account (its SID as its token
    // gave it, no name looked up again) in full control, so that the caller can change the
    // file itself next time; Users may read it. Protected: nothing inherited, nothing of a
    // replaced file kept. As SDDL text.
    static CStringEx FileDescriptor(PSID caller);

    const CStringEx& Folder() const noexcept { return m_path; }

    // Run-time seam: the call that sets a written file's descriptor on its handle
    // (SetSecurityInfo), so that tests on a system that keeps no ACLs see what is asked
    // for. Null restores SetSecurityInfo.
    using SetSecurityFn = DWORD(WINAPI*)(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner,
                                         PSID group, PACL dacl, PACL sacl);
    static void SetSecurityCall(SetSecurityFn call);

    // The path a handle's file has now ("C:\folder\name"), as the file system resolves it;
    // empty when it cannot be told or is not on a drive letter.
    static CStringEx FinalPathOf(HANDLE handle);

private:
    // Opens name relative to the held folder, never following a reparse point. An NTSTATUS.
    LONG OpenRelative(const CStringEx& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      CFileHandleEx& file) const;
    void RenameOver(HANDLE file, const CStringEx& name) const;
    // Whether the recorded path, opened again, is the held folder (same volume and index).
    bool IsStillNamedByItsPath() const;

    CFileHandleEx m_folder;
    CStringEx m_path;
};
