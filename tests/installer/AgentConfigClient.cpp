// A client of the installed configuration service, as the editor is one. It creates
// AgentConfig by its class through COM (which starts the service on demand) and makes the
// editor's call in this account's own name: a configuration file saved in the configuration
// folder the installer recorded is written (and removed again here); a path outside the
// two recorded folders, a NUL inside a name and an oversized document are each refused with
// E_INVALIDARG and write nothing. Each answer must be exactly the expected one, so a service
// that refused every caller, or accepted everything, fails. Prints every answer and ends
// with 0 only when all were as expected.
#include <windows.h>
#include <cstdio>
#include <string>

#include "KelvoConfigSvcLib.h"
#include "common/CComPtrEx.h"
#include "common/com/CComInitializeEx.h"

namespace
{
const wchar_t kDocument[] = L"<?xml version=\"1.0\"?><configuration><appSettings>"
                            L"<add key=\"InstalledCheck\"><value>written by the service</value></add>"
                            L"</appSettings></configuration>";

std::wstring ReadFolder(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Kelvo\\Cart", name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     value, &size) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring folder = value;
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += c == L'\0' ? '0' : (c < 128 ? static_cast<char>(c) : '?');
    return narrow;
}

class CClient
{
public:
    explicit CClient(IAgentConfig* agent) : m_agent(agent) {}

    // One call, its answer compared with the expected one; the texts travel whole.
    void Expect(const char* what, HRESULT expected, const std::wstring& user, const std::wstring& domain,
                const std::wstring& path, const std::wstring& xml)
    {
        CBstrEx u, d, p, x;
        u.Attach(SysAllocStringLen(user.data(), static_cast<UINT>(user.size())));
        d.Attach(SysAllocStringLen(domain.data(), static_cast<UINT>(domain.size())));
        p.Attach(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
        x.Attach(SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size())));
        const HRESULT hr = m_agent->SaveChanges(u.Get(), d.Get(), p.Get(), x.Get());
        std::printf("%s: 0x%08lX (expected 0x%08lX) %s\n", what, static_cast<unsigned long>(hr),
                    static_cast<unsigned long>(expected), Narrow(path).c_str());
        if (hr != expected)
            m_failed = true;
    }
    void Check(const char* what, bool holds)
    {
        std::printf("%s: %s\n", what, holds ? "yes" : "NO");
        if (!holds)
            m_failed = true;
    }
    bool Failed() const { return m_failed; }

private:
    IAgentConfig* m_agent;
    bool m_failed = false;
};
}  // namespace

int wmain()
{
    CComInitializeEx com;
    if (FAILED(com.Result()))
    {
        std::printf("CoInitializeEx: 0x%08lX\n", static_cast<unsigned long>(com.Result()));
        return 2;
    }
    const std::wstring configFolder = ReadFolder(L"ConfigFolder");
    const std::wstring installFolder = ReadFolder(L"InstallFolder");
    std::printf("ConfigFolder '%s', InstallFolder '%s'\n", Narrow(configFolder).c_str(), Narrow(installFolder).c_str());
    if (configFolder.empty() || installFolder.empty())
        return 1;

    CComPtrEx<IAgentConfig> agentConfig;
    HRESULT hr = CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agentConfig.PutVoid());
    std::printf("CoCreateInstance(AgentConfig): 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr) || !agentConfig)
        return 1;

    // The editor's names: this account and this computer (a local administrator).
    wchar_t name[256 + 1], computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD nameLength = ARRAYSIZE(name), computerLength = ARRAYSIZE(computer);
    if (!GetUserNameW(name, &nameLength) || !GetComputerNameW(computer, &computerLength))
        return 2;
    const std::wstring user = name, domain = computer;

    CClient client(agentConfig.Get());
    const std::wstring written = configFolder + L"\\KelvoInstallerClient.exe.config";
    DeleteFileW(written.c_str());
    client.Expect("save in the configuration folder", S_OK, user, domain, written, kDocument);
    client.Check("the file holds the document", [&] {
        HANDLE file = CreateFileW(written.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        char buffer[4096] = {};
        DWORD read = 0;
        ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
        CloseHandle(file);
        return std::string(buffer, read).find("written by the service") != std::string::npos;
    }());
    DeleteFileW(written.c_str());

    // The folder above the install folder is not one of the product's.
    const std::wstring outside = installFolder.substr(0, installFolder.rfind(L'\\')) + L"\\KelvoInstallerClient.exe.config";
    client.Expect("save beside the install folder", E_INVALIDARG, user, domain, outside, kDocument);
    client.Check("nothing written beside the install folder", !Exists(outside));
    client.Expect("a NUL inside the user name", E_INVALIDARG, user + std::wstring(1, L'\0') + L"x", domain, written,
                  kDocument);
    std::wstring large = kDocument;
    large.insert(large.find(L"written"), 300 * 1024, L'x');
    client.Expect("an oversized document", E_INVALIDARG, user, domain, written, large);
    client.Check("nothing written by the refused calls", !Exists(written));
    return client.Failed() ? 1 : 0;
}
