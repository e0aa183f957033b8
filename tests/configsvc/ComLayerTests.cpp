#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CUniqueAnyEx.h"
#include "common/com/CComInitializeEx.h"
#include "common/com/CComRegistrarEx.h"
#include "configsvc/CAgentConfig.h"
#include "configsvc/CServiceConfig.h"
#include <thread>

namespace
{
const wchar_t kTestKey[] = L"Software\\KelvoRegistrarTest";

std::wstring ReadText(const std::wstring& key, const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return value;
}

// An outer object that counts what its inner object hands on to it.
class COuter : public IUnknown
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        ++queries;
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
    int queries = 0;
};

// The calling thread acts as a standard user made from this account: the same account,
// with its Administrators group only for deny.
class CImpersonatedStandardUser
{
public:
    CImpersonatedStandardUser()
    {
        CKernelHandleEx process, restricted;
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(administrators);
        SID_AND_ATTRIBUTES disabled = { administrators, 0 };
        m_active = OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.Put())
                   && CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)
                   && CreateRestrictedToken(process.Get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, restricted.Put())
                   && DuplicateToken(restricted.Get(), SecurityImpersonation, m_token.Put())
                   && SetThreadToken(nullptr, m_token.Get());
    }
    ~CImpersonatedStandardUser()
    {
        if (m_active)
            RevertToSelf();
    }
    CImpersonatedStandardUser(const CImpersonatedStandardUser&) = delete;
    CImpersonatedStandardUser& operator=(const CImpersonatedStandardUser&) = delete;
    bool IsActive() const { return m_active; }

private:
    CKernelHandleEx m_token;
    bool m_active = false;
};
}

class ComRegistrar : public ::testing::Test
{
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey); }
};

TEST_F(ComRegistrar, RegistersAndUnregistersExactlyWhatTheScriptSays)
{
    // Left from an earlier registration: a stale value under a ForceRemove key, and a key
    // of someone else's beside the script's keys.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\KelvoRegistrarTest\\Fresh", L"Stale", REG_SZ, L"x", 4);
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\KelvoRegistrarTest\\Theirs", L"Keep", REG_SZ, L"y", 4);
    const wchar_t script[] = LR"(HKCU
{
    NoRemove Software
    {
        NoRemove KelvoRegistrarTest
        {
            ForceRemove Fresh = s '%NAME% it''s'
            {
                val Count = d '7'
                Child = s 'c'
            }
            Plain
            {
                val Path = s '%MODULE%'
                val Raw = s '%MODULE_RAW%'
                val Percent = s '100%%'
            }
        }
    }
})";
    CComRegistrarEx registrar;
    registrar.AddReplacement(L"NAME", L"Kelvo {a}");
    registrar.AddModuleReplacements(L"C:\\Program Files\\Kelvo\\KelvoConfigSvc.exe");
    ASSERT_EQ(S_OK, registrar.UpdateFromScript(script, true));
    const std::wstring fresh = std::wstring(kTestKey) + L"\\Fresh";
    const std::wstring plain = std::wstring(kTestKey) + L"\\Plain";
    EXPECT_EQ(L"Kelvo {a} it's", ReadText(fresh, nullptr));
    EXPECT_EQ(L"<missing>", ReadText(fresh, L"Stale"));
    DWORD count = 0, size = sizeof(count);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, fresh.c_str(), L"Count", RRF_RT_REG_DWORD, nullptr, &count, &size));
    EXPECT_EQ(7u, count);
    EXPECT_EQ(L"c", ReadText(fresh + L"\\Child", nullptr));
    EXPECT_EQ(L"\"C:\\Program Files\\Kelvo\\KelvoConfigSvc.exe\"", ReadText(plain, L"Path"));
    EXPECT_EQ(L"C:\\Program Files\\Kelvo\\KelvoConfigSvc.exe", ReadText(plain, L"Raw"));
    EXPECT_EQ(L"100%", ReadText(plain, L"Percent"));

    // Registering twice is the same as once.
    ASSERT_EQ(S_OK, registrar.UpdateFromScript(script, true));
    EXPECT_EQ(L"Kelvo {a} it's", ReadText(fresh, nullptr));

    ASSERT_EQ(S_OK, registrar.UpdateFromScript(script, false));
    EXPECT_FALSE(ConfigSvcWorld::KeyExists(HKEY_CURRENT_USER, fresh));
    EXPECT_FALSE(ConfigSvcWorld::KeyExists(HKEY_CURRENT_USER, plain));
    EXPECT_EQ(L"y", ReadText(std::wstring(kTestKey) + L"\\Theirs", L"Keep"));
    // And unregistering what is gone succeeds.
    EXPECT_EQ(S_OK, registrar.UpdateFromScript(script, false));
}

TEST_F(ComRegistrar, AScriptThatDoesNotParseChangesNothing)
{
    const wchar_t* const scripts[] = {
        L"HKCU { NoRemove Software { KelvoRegistrarTest { A = s 'a' }",     // a brace never closed
        L"HKCU { NoRemove Software { KelvoRegistrarTest { A = s '%NOPE%' } } }", // unknown replacement
        L"HKCU { NoRemove Software { KelvoRegistrarTest { A = q 'a' } } }",      // unknown value type
        L"HKCU { NoRemove Software { KelvoRegistrarTest { A = s 'a } } }",       // quote never closed
        L"HKXX { KelvoRegistrarTest }",                                          // unknown root
    };
    for (const wchar_t* script : scripts)
    {
        CComRegistrarEx registrar;
        EXPECT_EQ(E_INVALIDARG, registrar.UpdateFromScript(script, true));
        EXPECT_FALSE(ConfigSvcWorld::KeyExists(HKEY_CURRENT_USER, kTestKey));
    }
}

TEST_F(ComRegistrar, AKeyNameThatComesOutEmptyIsRefusedAndLeavesItsParentAlone)
{
    // A quoted empty name, or a replacement that is empty, names no key of its own.
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\KelvoRegistrarTest\\Theirs", L"Keep", REG_SZ, L"y", 4);
    const wchar_t* const scripts[] = {
        L"HKCU { NoRemove Software { NoRemove KelvoRegistrarTest { '%EMPTY%' } } }",
        L"HKCU { NoRemove Software { NoRemove KelvoRegistrarTest { ForceRemove '' = s 'x' } } }",
    };
    for (const wchar_t* script : scripts)
    {
        for (const bool registering : { true, false })
        {
            SCOPED_TRACE(registering ? "registering" : "unregistering");
            CComRegistrarEx registrar;
            registrar.AddReplacement(L"EMPTY", L"");
            EXPECT_EQ(E_INVALIDARG, registrar.UpdateFromScript(script, registering));
            EXPECT_EQ(L"y", ReadText(std::wstring(kTestKey) + L"\\Theirs", L"Keep"));
        }
    }
}

TEST(ComObjects, AgentConfigShowsOneIdentityAloneAndDelegatesToItsOuterObjectWhenAggregated)
{
    // Alone: IUnknown, IDispatch and IAgentConfig are one pointer.
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, TComObjectEx<CAgentConfig>::CreateInstance(nullptr, IID_IAgentConfig, agent.PutVoid()));
    CComPtrEx<IUnknown> unknown;
    CComPtrEx<IDispatch> dispatch;
    ASSERT_EQ(S_OK, agent.QueryInterface(IID_IUnknown, unknown));
    ASSERT_EQ(S_OK, agent.QueryInterface(IID_IDispatch, dispatch));
    EXPECT_EQ(static_cast<void*>(agent.Get()), static_cast<void*>(unknown.Get()));
    EXPECT_EQ(static_cast<void*>(agent.Get()), static_cast<void*>(dispatch.Get()));

    // Aggregated: only IUnknown may be asked for at creation; the interfaces handed out
    // count and answer for the outer object.
    COuter outer;
    void* refused = nullptr;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, TComObjectEx<CAgentConfig>::CreateInstance(&outer, IID_IAgentConfig, &refused));
    EXPECT_EQ(nullptr, refused);
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, TComObjectEx<CAgentConfig>::CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
    IAgentConfig* aggregated = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IAgentConfig, reinterpret_cast<void**>(&aggregated)));
    EXPECT_EQ(2u, outer.refs);
    void* other = nullptr;
    EXPECT_EQ(E_NOINTERFACE, aggregated->QueryInterface(IID_IClassFactory, &other));
    EXPECT_EQ(1, outer.queries);
    aggregated->Release();
    EXPECT_EQ(1u, outer.refs);
    EXPECT_EQ(0u, inner->Release());
}

// The caller's own token decides, not the names it passes: a caller whose Administrators
// membership is only for deny (a token of a standard user) is refused although the names
// it passes are those of an administrator, and the file stays as it was.
using CallerCheck = ConfigSvcWorld;

TEST_F(CallerCheck, ACallerWithoutTheAdministratorsGroupIsRefusedWhateverNamesItPasses)
{
    const std::wstring target = m_folder + L"\\Agent.exe.config";
    const std::wstring old = L"<configuration><appSettings/></configuration>";
    WriteFileText(target, old);
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, TComObjectEx<CAgentConfig>::CreateInstance(nullptr, IID_IAgentConfig, agent.PutVoid()));
    CBstrEx user(m_user.c_str()), domain(m_computer.c_str()), path(target.c_str());
    CBstrEx xml(L"<configuration><appSettings><add key=\"A\"><value>1</value></add></appSettings></configuration>");

    HRESULT asStandardUser = S_OK;
    {
        CImpersonatedStandardUser standardUser;
        ASSERT_TRUE(standardUser.IsActive());
        asStandardUser = agent->SaveChanges(user.Get(), domain.Get(), path.Get(), xml.Get());
    }
    EXPECT_EQ(E_ACCESSDENIED, asStandardUser);
    EXPECT_EQ(old, ReadFileText(target));
    // Refused for its token's groups, read from the token (not for a token that could not
    // be read): no membership, no elevated twin.
    EXPECT_NE(std::wstring::npos,
              OwnLog().find(L"SaveChanges refused: the caller " + m_computer + L"\\" + m_user +
                            L" is not an administrator of this computer by its own token (member 0, limited 0"))
        << OwnLog();
    EXPECT_EQ(std::wstring::npos, OwnLog().find(L"could not be identified")) << OwnLog();

    // The same administrator named in another domain is refused; named in its own, its
    // call is served (in this process, which runs as the administrator's own account).
    CBstrEx elsewhere(L"ELSEWHERE");
    EXPECT_EQ(E_ACCESSDENIED, agent->SaveChanges(user.Get(), elsewhere.Get(), path.Get(), xml.Get()));
    EXPECT_NE(std::wstring::npos, OwnLog().find(L"but the request names the domain ELSEWHERE.")) << OwnLog();
    EXPECT_EQ(old, ReadFileText(target));
    const HRESULT asAdministrator = agent->SaveChanges(user.Get(), domain.Get(), path.Get(), xml.Get());
    EXPECT_EQ(S_OK, asAdministrator);
    EXPECT_NE(std::wstring::npos, ReadFileText(target).find(L"<value>1</value>"));
}

// Changed admits its caller as SaveChanges does: a standard user does not make the service
// read its settings again; an administrator does.
TEST_F(CallerCheck, ChangedIsRefusedToACallerWithoutTheAdministratorsGroup)
{
    CComModuleEx module;
    module.SetMessageThreadId(GetCurrentThreadId());
    CComPtrEx<IServiceConfig> serviceConfig;
    ASSERT_EQ(S_OK, TComObjectEx<CServiceConfig>::CreateInstance(nullptr, IID_IServiceConfig, serviceConfig.PutVoid()));
    MSG message;
    while (PeekMessageW(&message, nullptr, CServiceConfig::WM_CONFIG_CHANGED, CServiceConfig::WM_CONFIG_CHANGED, PM_REMOVE))
    {
    }

    HRESULT asStandardUser = S_OK;
    {
        CImpersonatedStandardUser standardUser;
        ASSERT_TRUE(standardUser.IsActive());
        asStandardUser = serviceConfig->Changed();
    }
    EXPECT_EQ(E_ACCESSDENIED, asStandardUser);
    EXPECT_FALSE(PeekMessageW(&message, nullptr, CServiceConfig::WM_CONFIG_CHANGED, CServiceConfig::WM_CONFIG_CHANGED, PM_REMOVE));
    EXPECT_NE(std::wstring::npos, OwnLog().find(L"Changed refused: the caller " + m_computer + L"\\" + m_user)) << OwnLog();

    EXPECT_EQ(S_OK, serviceConfig->Changed());
    EXPECT_TRUE(PeekMessageW(&message, nullptr, CServiceConfig::WM_CONFIG_CHANGED, CServiceConfig::WM_CONFIG_CHANGED, PM_REMOVE));
}

// The type information the objects dispatch through belongs to the module's type library
// and goes with it: after the module releases the library nothing of it is held, and the
// next call loads it again.
TEST(ComObjects, TheirTypeInformationIsReleasedWithTheModulesTypeLibrary)
{
    CComInitializeEx com;
    ASSERT_EQ(S_OK, com.Result());
    CComModuleEx module;
    CComPtrEx<IDispatch> agent;
    ASSERT_EQ(S_OK, TComObjectEx<CAgentConfig>::CreateInstance(nullptr, IID_IDispatch, agent.PutVoid()));
    LPOLESTR names[] = { const_cast<LPOLESTR>(L"SaveChanges") };
    DISPID id = 0;
    ASSERT_EQ(S_OK, agent->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(1, id);

    CComPtrEx<ITypeLib> library;
    {
        CComPtrEx<ITypeInfo> info;
        ASSERT_EQ(S_OK, agent->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()));
        UINT index = 0;
        ASSERT_EQ(S_OK, info->GetContainingTypeLib(library.Put(), &index));
    }
    module.ReleaseTypeLibrary();
    // Only this test's own reference is left.
    library->AddRef();
    EXPECT_EQ(1u, library->Release());
    library.Reset();

    id = 0;
    EXPECT_EQ(S_OK, agent->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(1, id);
    agent.Reset();
    module.ReleaseTypeLibrary();
}

// COM initialised for a scope leaves the thread as it found it: a thread already in the
// multithreaded apartment stays in it after a scope that asked for a single-threaded one.
TEST(ComInitialize, AScopeThatCouldNotInitialiseLeavesTheThreadsApartmentAlone)
{
    HRESULT inner = S_OK, after = S_OK;
    std::thread thread([&] {
        CComInitializeEx multithreaded(COINIT_MULTITHREADED);
        if (FAILED(multithreaded.Result()))
            return;
        {
            CComInitializeEx singleThreaded(COINIT_APARTMENTTHREADED);
            inner = singleThreaded.Result();
        }
        // Still initialised, as the outer scope left it: asking again answers S_FALSE.
        CComInitializeEx again(COINIT_MULTITHREADED);
        after = again.Result();
    });
    thread.join();
    EXPECT_EQ(RPC_E_CHANGED_MODE, inner);
    EXPECT_EQ(S_FALSE, after);
}
