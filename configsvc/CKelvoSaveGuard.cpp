#include "configsvc/CKelvoSaveGuard.h"
#include "common/CComPtrEx.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "common/MsxmlGuids.h"
#include "resources/KVIdsConfigSvc.h"
#include <lm.h>
#include <objbase.h>
#include <cwctype>

namespace
{
using CTokenEx = CKernelHandleEx;

// Ends the impersonation of a COM client when the check is done, whichever way.
class CClientImpersonation
{
public:
    CClientImpersonation() : m_result(CoImpersonateClient()) {}
    ~CClientImpersonation()
    {
        if (SUCCEEDED(m_result))
            CoRevertToSelf();
    }
    CClientImpersonation(const CClientImpersonation&) = delete;
    CClientImpersonation& operator=(const CClientImpersonation&) = delete;
    HRESULT Result() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

// A token of the caller that CheckTokenMembership accepts (an impersonation token).
HRESULT OpenCallerToken(CTokenEx& token)
{
    // The thread's token: the impersonated client, or whoever the thread acts as.
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.Put()))
        return S_OK;
    if (GetLastError() != ERROR_NO_TOKEN)
        return HRESULT_FROM_WIN32(GetLastError());
    CTokenEx process;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, process.Put())
        || !DuplicateToken(process.Get(), SecurityIdentification, token.Put()))
        return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}

// Whether the token's account is a member of the Administrators group. An administrator
// who runs a program without elevation (User Account Control) holds the group only for
// deny; the same logon's elevated token, linked to it, decides then.
HRESULT IsAdministrator(HANDLE token, PSID administrators, BOOL& member)
{
    member = FALSE;
    if (!CheckTokenMembership(token, administrators, &member))
        return HRESULT_FROM_WIN32(GetLastError());
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD length = 0;
    if (member || !GetTokenInformation(token, TokenElevationType, &elevation, sizeof(elevation), &length)
        || elevation != TokenElevationTypeLimited)
        return S_OK;
    TOKEN_LINKED_TOKEN linked = {};
    if (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &length))
        return S_OK;
    CTokenEx elevated(linked.LinkedToken);
    if (!CheckTokenMembership(elevated.Get(), administrators, &member))
        member = FALSE;
    return S_OK;
}

HRESULT ReadAccount(HANDLE token, CStringEx& domain, CStringEx& name)
{
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length))
        return HRESULT_FROM_WIN32(GetLastError());
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    wchar_t nameText[256 + 1], domainText[256 + 1];
    DWORD nameLength = ARRAYSIZE(nameText), domainLength = ARRAYSIZE(domainText);
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, nameText, &nameLength, domainText, &domainLength, &use))
        return HRESULT_FROM_WIN32(GetLastError());
    domain = domainText;
    name = nameText;
    return S_OK;
}

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

// The form of the path alone, before anything on the disk is looked at.
bool HasAcceptedForm(const CStringEx& path)
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
    // Every part is a plain name; the file's name ends in ".config".
    int start = 3;
    CStringEx component;
    while (start <= length)
    {
        int end = path.Find(L'\\', start);
        if (end < 0)
            end = length;
        component = path.Mid(start, end - start);
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
    return EndsWithConfig(component);
}

// The drive is this computer's own, every folder on the way exists as a plain folder, and
// neither a folder nor the file (when it exists) is a reparse point.
bool IsLocalWithoutLinks(const CStringEx& path)
{
    const CStringEx root = path.Left(3);
    const UINT type = GetDriveTypeW(root);
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE && type != DRIVE_RAMDISK)
        return false;
    for (int separator = path.Find(L'\\', 3);; separator = path.Find(L'\\', separator + 1))
    {
        const bool isFile = separator < 0;
        const DWORD attributes = GetFileAttributesW(isFile ? path : path.Left(separator));
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            // Only the file itself may be missing: a save creates it.
            const DWORD error = GetLastError();
            return isFile && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || isFile == ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
            return false;
        if (isFile)
            return true;
    }
}

bool ContainsNoCase(LPCWSTR text, LPCWSTR part)
{
    const size_t partLength = wcslen(part);
    for (const wchar_t* p = text; *p; ++p)
    {
        if (_wcsnicmp(p, part, partLength) == 0)
            return true;
    }
    return false;
}

void SetParserProperty(IXMLDOMDocument2* document, LPCWSTR name, bool value)
{
    CBstrEx property(name);
    CVariantEx setting;
    setting.vt = VT_BOOL;
    setting.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    // A parser without the property is covered by the declaration check around it.
    document->setProperty(property.Get(), setting);
}
}

HRESULT CKelvoSaveGuard::CheckCaller(LPCWSTR claimedUser)
{
    CStringEx domain, name;
    BOOL member = FALSE;
    HRESULT impersonated = S_OK;
    CTokenEx token;
    HRESULT hr = S_OK;
    {
        // Only the caller's token is taken while impersonating: an identify-level client
        // token cannot be used to reach the account database, so the look-ups below run as
        // the service itself, on that token.
        CClientImpersonation impersonation;
        impersonated = impersonation.Result();
        // RPC_E_CALL_COMPLETE: no COM call is being served, the caller is this process.
        if (FAILED(impersonation.Result()) && impersonation.Result() != RPC_E_CALL_COMPLETE)
        {
            CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_UNKNOWN, impersonation.Result());
            return E_ACCESSDENIED;
        }
        hr = OpenCallerToken(token);
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (SUCCEEDED(hr) && !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
        hr = HRESULT_FROM_WIN32(GetLastError());
    if (SUCCEEDED(hr))
        hr = IsAdministrator(token.Get(), administrators, member);
    if (SUCCEEDED(hr))
        hr = ReadAccount(token.Get(), domain, name);
    if (FAILED(hr))
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_UNKNOWN, hr);
        return E_ACCESSDENIED;
    }
    CUtilLogging::Instance().LogRes(5, IDS_SVC_CALLER_IDENTIFIED, domain.GetString(), name.GetString(),
                                    static_cast<unsigned>(impersonated), member ? 1 : 0);
    if (!member)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_NOT_ADMIN, domain.GetString(), name.GetString());
        return E_ACCESSDENIED;
    }
    if (!claimedUser || name.CompareNoCase(claimedUser) != 0)
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_CALLER_OTHER_NAME, domain.GetString(), name.GetString(),
                                        claimedUser ? claimedUser : L"");
        return E_ACCESSDENIED;
    }
    return S_OK;
}

HRESULT CKelvoSaveGuard::CheckPath(LPCWSTR path)
{
    const CStringEx text(path);
    if (!HasAcceptedForm(text) || !IsLocalWithoutLinks(text))
    {
        CUtilLogging::Instance().LogRes(2, IDS_SVC_PATH_REFUSED, text.GetString());
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT CKelvoSaveGuard::CheckXml(LPCWSTR xml)
{
    const LPCWSTR text = xml ? xml : L"";
    // Entities and external subsets live only in a document type declaration.
    if (ContainsNoCase(text, L"<!DOCTYPE") || ContainsNoCase(text, L"<!ENTITY"))
        return E_FAIL;
    CComPtrEx<IXMLDOMDocument2> document;
    HRESULT hr = CoCreateInstance(KelvoMsxml::ClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                  KelvoMsxml::IidXmlDomDocument2, document.PutVoid());
    if (FAILED(hr))
        return E_FAIL;
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    SetParserProperty(document.Get(), L"ProhibitDTD", true);
    SetParserProperty(document.Get(), L"ResolveExternals", false);
    SetParserProperty(document.Get(), L"AllowDocumentFunction", false);
    SetParserProperty(document.Get(), L"AllowXsltScript", false);
    CBstrEx source(text);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->loadXML(source.Get(), &loaded)) || loaded != VARIANT_TRUE)
        return E_FAIL;
    CComPtrEx<IXMLDOMDocumentType> type;
    if (document->get_doctype(type.Put()) == S_OK && type)
        return E_FAIL;
    return S_OK;
}

CStringEx CKelvoSaveGuard::TrusteeName(LPCWSTR user, LPCWSTR domain)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD computerLength = ARRAYSIZE(computer);
    if (!GetComputerNameW(computer, &computerLength))
        computer[0] = L'\0';
    LPWSTR joinName = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (NetGetJoinInformation(nullptr, &joinName, &status) != NERR_Success)
        return CStringEx();
    CStringEx joined(joinName);
    NetApiBufferFree(joinName);

    CStringEx trustee;
    // A local account belongs to the computer; a workgroup name names no account at all.
    const bool local = computer[0] && domain && _wcsicmp(domain, computer) == 0;
    if (local || status != NetSetupDomainName)
        trustee.Format(L"%s\\%s", computer, user ? user : L"");
    else
        trustee.Format(L"%s\\%s", joined.GetString(), user ? user : L"");
    return trustee;
}
