#include "configsvc/CKelvoFolderFacts.h"
#include "common/CUniqueAnyEx.h"
#include <aclapi.h>
#include <sddl.h>

namespace
{
bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(known);
    return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

std::vector<BYTE> CopySid(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return {};
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}
}

bool CKelvoFolderFacts::IsTrusted(PSID serviceAccount) const
{
    if (!exists || !directory || reparsePoint || owner.empty())
        return false;
    PSID sid = const_cast<BYTE*>(owner.data());
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid)
           || (serviceAccount && IsValidSid(serviceAccount) && EqualSid(sid, serviceAccount));
}

CKelvoFolderFacts CKelvoFolderFacts::Read(LPCWSTR folder)
{
    CKelvoFolderFacts facts;
    const DWORD attributes = GetFileAttributesW(folder);
    facts.exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!facts.exists)
        return facts;
    facts.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                              &descriptor) == ERROR_SUCCESS)
    {
        CLocalMemEx descriptorMemory(descriptor);
        facts.owner = CopySid(owner);
    }
    return facts;
}

CKelvoFolderFacts CKelvoFolderFacts::Read(HANDLE folder)
{
    CKelvoFolderFacts facts;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    facts.exists = GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof(tag)) != FALSE;
    if (!facts.exists)
        return facts;
    facts.directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.reparsePoint = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor)
        == ERROR_SUCCESS)
    {
        CLocalMemEx descriptorMemory(descriptor);
        facts.owner = CopySid(owner);
    }
    return facts;
}

std::vector<BYTE> CKelvoFolderFacts::ServiceAccount()
{
    CKernelHandleEx token;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())
        || !GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &length))
        return {};
    return CopySid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

CStringEx CKelvoFolderFacts::OwnerText() const
{
    LPWSTR text = nullptr;
    if (owner.empty() || !ConvertSidToStringSidW(const_cast<BYTE*>(owner.data()), &text))
        return CStringEx(L"?");
    CLocalMemEx memory(text);
    return CStringEx(text);
}
