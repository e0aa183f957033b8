#include "configeditor/CKelvoAgentConfigAppState.h"
#include "common/CADQuery.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "common/ui/CMessageBoxEx.h"
#include "resources/KVResourceIds.h"
#include <lm.h>
#define SECURITY_WIN32
#include <security.h>
#include <cstdarg>

namespace
{
CKelvoAgentConfigAppState::AccountNameHook g_accountNameHook = nullptr;

struct NetApiBufferTraits
{
    using Type = LPVOID;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { NetApiBufferFree(p); }
};

BOOL ReadAccountName(CStringEx& samName)
{
    if (g_accountNameHook)
        return g_accountNameHook(samName);
    WCHAR name[256] = {};
    ULONG size = ARRAYSIZE(name);
    if (!GetUserNameExW(NameSamCompatible, name, &size))
        return FALSE;
    samName = name;
    return TRUE;
}
}

CKelvoAgentConfigAppState& CKelvoAgentConfigAppState::Instance()
{
    static CKelvoAgentConfigAppState state;
    return state;
}

void CKelvoAgentConfigAppState::ReadModulePath()
{
    if (m_pathRead)
        return;
    CResourceLoader::GetModulePath(m_folder, m_ownName, FALSE);
    m_pathRead = true;
}

const CStringEx& CKelvoAgentConfigAppState::GetFolder()
{
    ReadModulePath();
    return m_folder;
}

const CStringEx& CKelvoAgentConfigAppState::GetOwnName()
{
    ReadModulePath();
    return m_ownName;
}

const CStringEx& CKelvoAgentConfigAppState::GetCaption()
{
    if (!m_captionLoaded)
    {
        CResourceLoader::Instance().LoadString(IDS_EDITOR_CAPTION, m_caption);
        m_captionLoaded = true;
    }
    return m_caption;
}

bool CKelvoAgentConfigAppState::IsAdministrator(HWND owner)
{
    if (!m_adminDecided)
    {
        m_adminDecided = true;
        DecideAdministrator(owner);
    }
    return m_admin;
}

const CStringEx& CKelvoAgentConfigAppState::GetUserName()
{
    IsAdministrator();
    return m_userName;
}

const CStringEx& CKelvoAgentConfigAppState::GetDomainName()
{
    IsAdministrator();
    return m_domainName;
}

// The computer's domain names: a domain member has a DNS and a NetBIOS domain name, a
// workgroup member only its workgroup's name as NetBIOS name, any other computer its own
// name.
void CKelvoAgentConfigAppState::ReadDomainNames(CStringEx& dnsDomain, CStringEx& netbiosDomain)
{
    dnsDomain = CADQuery::GetDomainDnsName();
    netbiosDomain = CADQuery::GetDomainNetBiosName();
    if (!dnsDomain.IsEmpty())
        return;
    CUniqueAnyEx<NetApiBufferTraits> buffer;
    LPWSTR name = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (NetGetJoinInformation(nullptr, &name, &status) == NERR_Success)
    {
        buffer.Reset(name);
        if (status == NetSetupWorkgroupName && name)
        {
            netbiosDomain = name;
            return;
        }
    }
    netbiosDomain = CADQuery::GetComputerName();
}

void CKelvoAgentConfigAppState::DecideAdministrator(HWND owner)
{
    m_admin = false;
    m_userName.Empty();
    m_domainName.Empty();
    try
    {
        CStringEx dnsDomain, netbiosDomain;
        ReadDomainNames(dnsDomain, netbiosDomain);

        CStringEx samName;
        if (!ReadAccountName(samName))
            return;
        const int slash = samName.Find(L'\\');
        // Only an account of this computer's own domain can administer it for the editor;
        // a local account (or one of another domain) keeps both names empty.
        if (slash < 0 || netbiosDomain.IsEmpty() || samName.Left(slash).CompareNoCase(netbiosDomain) != 0)
            return;
        m_userName = samName.Mid(slash + 1);
        m_domainName = dnsDomain;

        _CObjectExPtr<CADQuery> query(new CADQuery());
        CStringEx searchRoot;
        query->GetSearchRoot(searchRoot);
        if (searchRoot.IsEmpty())
        {
            CUtilLogging::Instance().Log(2, L"%s\n", CResourceLoader::Instance().LoadText(IDS_DIR_UNREACHABLE).GetString());
            ShowMessageRes(owner, IDS_DIR_NO_SEARCH_ROOT);
            return;
        }
        if (m_userName.IsEmpty() || m_domainName.IsEmpty())
            return;
        m_admin = query->IsLocalGroupMember(searchRoot, m_userName, m_domainName) != FALSE;
    }
    catch (...)
    {
        m_admin = false;
    }
}

int CKelvoAgentConfigAppState::ShowMessage(HWND owner, LPCWSTR text, UINT style)
{
    return CMessageBoxEx::Show(owner, text, GetCaption(), style, 0);
}

int CKelvoAgentConfigAppState::ShowMessageRes(HWND owner, UINT id, UINT style)
{
    return ShowMessage(owner, CResourceLoader::Instance().LoadText(id), style);
}

int CKelvoAgentConfigAppState::ShowMessageFormat(HWND owner, UINT id, UINT style, ...)
{
    CStringEx text;
    va_list args;
    va_start(args, style);
    CResourceLoader::Instance().FormatStringV(text, id, args);
    va_end(args);
    return ShowMessage(owner, text, style);
}

void CKelvoAgentConfigAppState::SetAccountNameHook(AccountNameHook hook)
{
    g_accountNameHook = hook;
    Instance().m_adminDecided = false;
}
