#include "configsvc/CKelvoHeldFolder.h"
#include "configsvc/CKelvoFolderFacts.h"
#include "common/CErrorEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsConfigSvc.h"
#include <sddl.h>
#include <winternl.h>
#include <algorithm>

namespace
{
// Status codes of the native file calls the folder's files are opened with.
constexpr LONG kNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kNameCollision = static_cast<LONG>(0xC0000035);
// Options of those opens: synchronous, not a folder, the name itself even when it is a
// reparse point (never where it points).
constexpr ULONG kFileOptions = 0x00000020 /* FILE_SYNCHRONOUS_IO_NONALERT */ | 0x00000040 /* FILE_NON_DIRECTORY_FILE */
                               | 0x00200000 /* FILE_OPEN_REPARSE_POINT */;
constexpr ULONG kOpen = 1;   // FILE_OPEN
constexpr ULONG kCreate = 2; // FILE_CREATE

CKelvoHeldFolder::SetSecurityFn g_setSecurity = &SetSecurityInfo;

DWORD Win32FromStatus(LONG status)
{
    const DWORD error = RtlNtStatusToDosError(status);
    return error ? error : ERROR_GEN_FAILURE;
}

// A temporary file of a save, open by its handle: deleted through that handle unless it was
// put in place, so that the deletion can reach no other file whatever became of the path.
class CTemporaryFile
{
public:
    explicit CTemporaryFile(CFileHandleEx&& file, const CStringEx& path) : m_file(std::move(file)), m_path(path) {}
    ~CTemporaryFile()
    {
        if (!m_file)
            return;
        FILE_DISPOSITION_INFO disposition = { TRUE };
        if (!SetFileInformationByHandle(m_file.Get(), FileDispositionInfo, &disposition, sizeof(disposition)))
            CUtilLogging::Instance().LogRes(2, IDS_SVC_TEMPORARY_LEFT, m_path.GetString(), GetLastError());
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;
    HANDLE Get() const noexcept { return m_file.Get(); }
    // The file is in place: closing the handle leaves it.
    void Keep() noexcept { m_file.Reset(); }

private:
    CFileHandleEx m_file;
    CStringEx m_path;
};

CStringEx InFolder(const CStringEx& folder, const CStringEx& name)
{
    CStringEx path = folder;
    path += L'\\';
    path += name;
    return path;
}

bool IsPlain(HANDLE handle, bool directory)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)))
        return false;
    return !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
           && ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directory;
}
}

void CKelvoHeldFolder::SetSecurityCall(SetSecurityFn call)
{
    g_setSecurity = call ? call : &SetSecurityInfo;
}

CStringEx CKelvoHeldFolder::FinalPathOf(HANDLE handle)
{
    wchar_t buffer[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, ARRAYSIZE(buffer), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= ARRAYSIZE(buffer))
        return CStringEx();
    // "\\?\C:\..." names a drive letter's file; "\\?\UNC\..." and the rest name none.
    const CStringEx path(buffer);
    if (path.Left(4).Compare(L"\\\\?\\") != 0 || path.GetLength() < 7 || path.GetAt(5) != L':' || path.GetAt(6) != L'\\')
        return CStringEx();
    return path.Mid(4);
}

HRESULT CKelvoHeldFolder::Hold(const CStringEx& folder, LPCWSTR path)
{
    m_path = folder;
    // Deleting or renaming the folder needs FILE_SHARE_DELETE from this handle: refused.
    m_folder.Reset(CreateFileW(folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_folder)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_FOLDER_NOT_HELD, path, folder.GetString(), GetLastError());
        return E_INVALIDARG;
    }
    // The folder itself, not a link to one, and the recorded folder by the name the file
    // system gives it now (no link, short name or other volume name on the way).
    const bool plain = IsPlain(m_folder.Get(), true);
    const CStringEx found = FinalPathOf(m_folder.Get());
    if (!plain || found.IsEmpty() || found.CompareNoCase(folder) != 0)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_FOLDER_NOT_RECORDED, path, folder.GetString(), plain ? 0 : 1,
                                        found.GetString());
        return E_INVALIDARG;
    }
    // A folder made before the installation by someone else is not the product's.
    std::vector<BYTE> serviceAccount = CKelvoFolderFacts::ServiceAccount();
    const CKelvoFolderFacts facts = CKelvoFolderFacts::Read(m_folder.Get());
    if (!facts.IsTrusted(serviceAccount.empty() ? nullptr : serviceAccount.data()))
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_FOLDER_UNTRUSTED, path, facts.reparsePoint ? 1 : 0,
                                        facts.OwnerText().GetString());
        return E_INVALIDARG;
    }
    CUtilLogging::Instance().LogRes(5, IDS_SVC_FOLDER_HELD, path, folder.GetString());
    return S_OK;
}

bool CKelvoHeldFolder::IsStillNamedByItsPath() const
{
    CFileHandleEx named(CreateFileW(m_path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION held = {}, now = {};
    return named && GetFileInformationByHandle(m_folder.Get(), &held) && GetFileInformationByHandle(named.Get(), &now)
           && held.dwVolumeSerialNumber == now.dwVolumeSerialNumber && held.nFileIndexHigh == now.nFileIndexHigh
           && held.nFileIndexLow == now.nFileIndexLow;
}

LONG CKelvoHeldFolder::OpenRelative(const CStringEx& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                                    CFileHandleEx& file) const
{
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.GetString());
    text.Length = static_cast<USHORT>(name.GetLength() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, m_folder.Get(), nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    const NTSTATUS status = NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                         share, disposition, kFileOptions, nullptr, 0);
    if (status == 0)
        file.Reset(handle);
    return status;
}

HRESULT CKelvoHeldFolder::CheckTarget(const CStringEx& name) const
{
    const CStringEx path = InFolder(m_path, name);
    CFileHandleEx file;
    const LONG status = OpenRelative(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     kOpen, file);
    // Only a file that is not there yet needs no examination.
    if (status == kNameNotFound)
        return S_OK;
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool examined = status == 0 && GetFileInformationByHandle(file.Get(), &information);
    const bool plain = examined && IsPlain(file.Get(), false);
    // A second name (a hard link) belongs to another file as well: a save would change
    // what that other name shows.
    if (!plain || information.nNumberOfLinks != 1 || FinalPathOf(file.Get()).CompareNoCase(path) != 0)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_TARGET_REFUSED, path.GetString(),
                                        status == 0 ? 0u : static_cast<unsigned>(Win32FromStatus(status)), plain ? 1 : 0,
                                        static_cast<unsigned>(information.nNumberOfLinks));
        return E_INVALIDARG;
    }
    return S_OK;
}

// The rename names the held folder's handle as its root: the new name lies in that folder
// whatever its path leads to now, and an existing file of that name is replaced (a link of
// that name is replaced itself, never followed).
void CKelvoHeldFolder::RenameOver(HANDLE file, const CStringEx& name) const
{
    const DWORD nameBytes = static_cast<DWORD>(name.GetLength() * sizeof(wchar_t));
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = m_folder.Get();
    rename->FileNameLength = nameBytes;
    CopyMemory(rename->FileName, name.GetString(), nameBytes);
    IO_STATUS_BLOCK io = {};
    // The native call: the Win32 one takes the name for a path of its own.
    const NTSTATUS status = NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()),
                                                 static_cast<FILE_INFORMATION_CLASS>(10) /* FileRenameInformation */);
    if (status != 0)
        ThrowWin32(Win32FromStatus(status));
}

CStringEx CKelvoHeldFolder::FileDescriptor(PSID caller)
{
    LPWSTR sid = nullptr;
    if (!caller || !ConvertSidToStringSidW(caller, &sid))
        return CStringEx();
    CLocalMemEx sidMemory(sid);
    CStringEx text;
    text.Format(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%s)(A;;FR;;;BU)", sid);
    return text;
}

HRESULT CKelvoHeldFolder::Write(const CStringEx& name, const std::vector<BYTE>& bytes, PSID caller) const
{
    const CStringEx path = InFolder(m_path, name);
    try
    {
        PSECURITY_DESCRIPTOR made = nullptr;
        const CStringEx descriptorText = FileDescriptor(caller);
        ThrowLastErrorIf(descriptorText.IsEmpty()
                         || !ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText, SDDL_REVISION_1, &made, nullptr));
        CLocalMemEx descriptorMemory(made);
        const PSECURITY_DESCRIPTOR descriptor = made;

        // The recorded path still names the held folder. Windows refuses to rename a folder
        // held this way, but not every file system can refuse a rename from outside; the
        // write would still land in the held folder, but that is no longer the folder the
        // product recorded.
        if (!IsStillNamedByItsPath())
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_FOLDER_MOVED, path.GetString(), m_path.GetString());
            ThrowWin32(ERROR_PATH_NOT_FOUND);
        }

        // A name of its own in the held folder, made there and nowhere else.
        CFileHandleEx created;
        CStringEx temporaryName;
        LONG status = kNameCollision;
        for (int attempt = 0; attempt < 16 && status == kNameCollision; ++attempt)
        {
            temporaryName.Format(L"kvc%08lX%04X.tmp", GetTickCount(), static_cast<unsigned>(attempt * 7919 + GetCurrentThreadId()) & 0xFFFF);
            status = OpenRelative(temporaryName, GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER | READ_CONTROL, 0, kCreate,
                                  created);
        }
        if (status != 0)
            ThrowWin32(Win32FromStatus(status));
        CTemporaryFile temporary(std::move(created), InFolder(m_path, temporaryName));
        const CStringEx found = FinalPathOf(temporary.Get());
        if (found.CompareNoCase(InFolder(m_path, temporaryName)) != 0)
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_FILE_ELSEWHERE, path.GetString(), temporaryName.GetString(),
                                            found.GetString());
            ThrowWin32(ERROR_PATH_NOT_FOUND);
        }

        // The data reaches the disk before the file takes the old one's place.
        for (size_t offset = 0; offset < bytes.size();)
        {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 20));
            ThrowLastErrorIf(!WriteFile(temporary.Get(), bytes.data() + offset, chunk, &written, nullptr) || written == 0);
            offset += written;
        }
        ThrowLastErrorIf(!FlushFileBuffers(temporary.Get()));

        // The file's whole access, its own and protected from the folder's inheritance: a
        // replaced file's access (whoever made it) is not carried over.
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        ThrowLastErrorIf(!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)
                         || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !owner || !present || !dacl);
        const DWORD error = g_setSecurity(temporary.Get(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
                                              | PROTECTED_DACL_SECURITY_INFORMATION,
                                          owner, nullptr, dacl, nullptr);
        if (error != ERROR_SUCCESS)
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_DESCRIPTOR_FAILED, path.GetString(), error);
            ThrowWin32(error);
        }

        RenameOver(temporary.Get(), name);
        temporary.Keep();
        return S_OK;
    }
    catch (...)
    {
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_SVC_SAVE_FAILED, path.GetString(), static_cast<unsigned>(hr));
        return hr;
    }
}
