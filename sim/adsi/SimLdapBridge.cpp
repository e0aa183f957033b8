#include "sim/adsi/SimLdapBridge.h"
#include "sim/adsi/SimComBase.h"
#include <adserr.h>
#include <iads.h>

namespace
{
// Wine's LDAP provider, used when the ProgID the stand-in replaced cannot be read.
const CLSID kWineLdapNamespace = { 0x228d9a82, 0xc302, 0x11cf, { 0x9a, 0xa4, 0x00, 0xaa, 0x00, 0x4a, 0x56, 0x91 } };

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[512];
    const DWORD n = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return n > 0 && n < ARRAYSIZE(value) ? std::wstring(value, n) : std::wstring();
}

// The class of the provider that answered "LDAP:" before the stand-in was registered.
CLSID ReplacedProvider()
{
    wchar_t progId[256];
    DWORD size = sizeof(progId);
    CLSID clsid = kWineLdapNamespace;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\ADs\\Providers\\LDAP", L"KelvoAdsiSimPrevious",
                     RRF_RT_REG_SZ, nullptr, progId, &size) == ERROR_SUCCESS &&
        FAILED(CLSIDFromProgID(progId, &clsid)))
        clsid = kWineLdapNamespace;
    return clsid;
}

// A BSTR owned for one call.
class Bstr
{
public:
    explicit Bstr(const std::wstring& text) : m_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_text; }

private:
    BSTR m_text;
};
}

std::wstring SimLdapBridge::Server()
{
    return Environment(L"KELVO_LDAP_SERVER");
}

std::wstring SimLdapBridge::WithServer(const std::wstring& path, const std::wstring& server)
{
    const std::wstring rest = path.substr(7);
    const size_t slash = rest.find(L'/');
    // "LDAP://host/..." already names one; a DN's first slash comes after an "=".
    if (slash != std::wstring::npos && rest.substr(0, slash).find(L'=') == std::wstring::npos)
        return path;
    return L"LDAP://" + server + L"/" + rest;
}

HRESULT SimLdapBridge::Open(const std::wstring& path, BSTR user, BSTR password, LONG flags, IDispatch** out)
{
    IADsOpenDSObject* provider = nullptr;
    HRESULT hr = CoCreateInstance(ReplacedProvider(), nullptr, CLSCTX_INPROC_SERVER, IID_IADsOpenDSObject,
                                  reinterpret_cast<void**>(&provider));
    if (FAILED(hr))
        return hr;
    const Bstr target(WithServer(path, Server()));
    if (user == nullptr || *user == L'\0')
    {
        // The process's own logon cannot bind under Wine: the test account binds simply.
        const Bstr account(Environment(L"KELVO_LDAP_USER"));
        const Bstr secret(Environment(L"KELVO_LDAP_PASSWORD"));
        hr = provider->OpenDSObject(target.Get(), account.Get(), secret.Get(), flags & ~ADS_SECURE_AUTHENTICATION, out);
    }
    else
        hr = provider->OpenDSObject(target.Get(), user, password, flags, out);
    provider->Release();
    return hr;
}
