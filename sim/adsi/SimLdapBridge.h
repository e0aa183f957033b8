#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

// The way from the stand-in to a real directory server: with KELVO_LDAP_SERVER set in the
// environment, "LDAP:" paths are opened by the LDAP provider the stand-in replaced (Wine's
// own), on that server and with the credentials of KELVO_LDAP_USER and KELVO_LDAP_PASSWORD.
// A program on a domain member binds as itself to a domain controller it finds through DNS;
// under Wine the path must name the server and the bind needs explicit credentials, and
// this adds both, so the programs themselves stay unchanged. "WinNT:" paths (the computer's
// own accounts) are still served from the data file.
class SimLdapBridge
{
public:
    // The server LDAP paths go to; empty when the stand-in serves them itself.
    static std::wstring Server();
    // Opens the object of an LDAP path on the real server.
    static HRESULT Open(const std::wstring& path, BSTR user, BSTR password, LONG flags, IDispatch** out);
    // The path with the server named, when it names none ("LDAP://RootDSE" becomes
    // "LDAP://server/RootDSE").
    static std::wstring WithServer(const std::wstring& path, const std::wstring& server);
};
