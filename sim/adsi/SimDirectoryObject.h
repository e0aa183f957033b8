#pragma once
#include "sim/adsi/SimComBase.h"
#include "sim/adsi/SimDirectory.h"
#include <string>

// One object of the simulated directory as a provider hands it out: the LDAP root entry
// (RootDSE), an LDAP object (domain, container or account) or a WinNT account. Every
// object serves IADs; groups also IADsGroup; LDAP objects also IDirectorySearch.
class SimDirectoryObject final : public IADsGroup, public IDirectorySearch, private SimRefCount
{
public:
    enum Kind { RootDse, Ldap, WinNT };

    // Opens the object an ADsPath names ("LDAP://RootDSE", "LDAP://[server/]DN",
    // "WinNT://DOMAIN/name", "WinNT://DOMAIN/COMPUTER/name", with an optional ",class").
    static HRESULT Open(const std::wstring& path, IDispatch** out);
    // Makes the object of one account, for member enumerations.
    static IDispatch* ForEntry(const std::shared_ptr<const SimDirectory>& directory, const SimEntry& entry, Kind kind);

    // IUnknown
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    SIM_REFCOUNTED
    SIM_NO_LATE_BINDING

    // IADs
    HRESULT WINAPI get_Name(BSTR* out) override;
    HRESULT WINAPI get_Class(BSTR* out) override;
    HRESULT WINAPI get_GUID(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_ADsPath(BSTR* out) override { return SimReturnBstr(Path(), out); }
    HRESULT WINAPI get_Parent(BSTR* out) override;
    HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfo() override { return S_OK; }
    HRESULT WINAPI SetInfo() override { return E_NOTIMPL; }
    HRESULT WINAPI Get(BSTR name, VARIANT* out) override { return GetProperty(name, out, false); }
    HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetEx(BSTR name, VARIANT* out) override { return GetProperty(name, out, true); }
    HRESULT WINAPI PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfoEx(VARIANT, LONG) override { return S_OK; }

    // IADsGroup
    HRESULT WINAPI get_Description(BSTR* out) override;
    HRESULT WINAPI put_Description(BSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI Members(IADsMembers** out) override;
    HRESULT WINAPI IsMember(BSTR path, VARIANT_BOOL* out) override;
    HRESULT WINAPI Add(BSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI Remove(BSTR) override { return E_NOTIMPL; }

    // IDirectorySearch
    HRESULT WINAPI SetSearchPreference(PADS_SEARCHPREF_INFO prefs, DWORD count) override;
    HRESULT WINAPI ExecuteSearch(LPWSTR filter, LPWSTR* attributes, DWORD count, PADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI AbandonSearch(ADS_SEARCH_HANDLE) override { return S_OK; }
    HRESULT WINAPI GetFirstRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetNextRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetPreviousRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT WINAPI GetNextColumnName(ADS_SEARCH_HANDLE handle, LPWSTR* name) override;
    HRESULT WINAPI GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) override;
    HRESULT WINAPI FreeColumn(PADS_SEARCH_COLUMN column) override;
    HRESULT WINAPI CloseSearchHandle(ADS_SEARCH_HANDLE handle) override;

private:
    struct Search;

    SimDirectoryObject(std::shared_ptr<const SimDirectory> directory, Kind kind) noexcept;
    ~SimDirectoryObject();

    bool IsGroup() const noexcept { return m_entry && m_entry->kind == SimEntry::Group; }
    std::wstring Path() const;
    std::wstring WinNTPath(const SimEntry& entry) const;
    std::vector<SimAttribute> Properties() const;
    HRESULT GetProperty(BSTR name, VARIANT* out, bool asArray) const;
    Search* FindSearch(ADS_SEARCH_HANDLE handle) const;

    std::shared_ptr<const SimDirectory> m_dir;
    Kind m_kind;
    SimLdapNode m_node;
    const SimEntry* m_entry = nullptr;
    std::wstring m_server;
    ADS_SCOPEENUM m_scope = ADS_SCOPE_SUBTREE;
    // Rows per page of a paged search; 0 until the client asks for pages.
    DWORD m_pageSize = 0;
    // The client asked for an asynchronous search.
    bool m_async = false;
    // How referrals are chased; ADSI's default chases those to other servers.
    long m_chaseReferrals = ADS_CHASE_REFERRALS_EXTERNAL;
    std::vector<Search*> m_searches;
};
