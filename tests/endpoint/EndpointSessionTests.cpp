#include "EndpointTestSupport.h"
#include "cartlink/CConsoleSession.h"
#include "cartlink/CCtxLibrary.h"
#include "cartlink/CCtxSession.h"
#include "cartlink/CEndpointSessionFactory.h"
#include "cartlink/CRdpSession.h"
#include "cartlink/CVirtualChannelImpl.h"
#include "common/CResourceLoader.h"
#include "KVResourceIds.h"
#include <gtest/gtest.h>
#include <cstring>
#include <wtsapi32.h>

using namespace endpoint_test;

// The agent's kinds, tried console, Citrix, Remote Desktop.
static const TEndpointSessionRegistration<CRdpSession> s_rdpSession;
static const TEndpointSessionRegistration<CCtxSession> s_ctxSession;
static const TEndpointSessionRegistration<CConsoleSession> s_consoleSession;

namespace
{
std::string KindOf(const _CObjectExPtr<CEndpointSession>& session)
{
    return session ? session->GetClassInfo()->name : "(none)";
}

bool CitrixLibraryLoaded()
{
    return GetModuleHandleW(L"wfapi64.dll") != nullptr;
}

std::wstring LoadedCitrixPath()
{
    wchar_t path[MAX_PATH] = {};
    if (!CCtxLibrary::GetModule() || !GetModuleFileNameW(CCtxLibrary::GetModule(), path, MAX_PATH))
        return std::wstring();
    return path;
}

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = ARRAYSIZE(name);
    GetComputerNameW(name, &length);
    return name;
}

class EndpointSession : public ::testing::Test
{
protected:
    void TearDown() override
    {
        SimulateRemoteSession(false);
        EXPECT_EQ(0, CCtxLibrary::GetUserCount());
        EXPECT_FALSE(CitrixLibraryLoaded());
    }

    EndpointConfig m_endpoint;
};
}

TEST_F(EndpointSession, ConsoleIsChosenInTheConsoleAndTheCitrixLibraryIsNeverLoaded)
{
    CitrixPlacement placed({ 0, 1, 2, 3 });
    m_endpoint.Write({ "ClientName=ICA-ENDPOINT", "Channel=KVAGENT" });

    _CObjectExPtr<CEndpointSession> session = CEndpointSessionFactory::CreateSession();
    ASSERT_EQ("CConsoleSession", KindOf(session));
    EXPECT_EQ(1, session->GetRefCount());
    EXPECT_FALSE(session->IsRemote());
    CStringEx name(L"stale");
    EXPECT_TRUE(session->GetClientName(name));
    EXPECT_EQ(ComputerName(), name.Str());
    EXPECT_FALSE(session->OpenVirtualChannel(nullptr, L"KVAGENT"));

    EXPECT_FALSE(CitrixLibraryLoaded());
    EXPECT_TRUE(m_endpoint.Trace().empty());
}

TEST_F(EndpointSession, RemoteSessionWithoutTheCitrixLibraryIsRemoteDesktop)
{
    CitrixPlacement placed({});
    SimulateRemoteSession(true);

    _CObjectExPtr<CEndpointSession> session = CEndpointSessionFactory::CreateSession();
    ASSERT_EQ("CRdpSession", KindOf(session));
    EXPECT_EQ(1, session->GetRefCount());
    EXPECT_TRUE(session->IsRemote());
    EXPECT_FALSE(session->OpenVirtualChannel(nullptr, L"KVAGENT"));
    // The Citrix kind was tried and released, and with it went its use of the library.
    EXPECT_EQ(0, CCtxLibrary::GetUserCount());
}

TEST_F(EndpointSession, LibraryInARemoteSessionThatIsNotIcaFallsThroughToRemoteDesktop)
{
    CitrixPlacement placed({ 0 });
    m_endpoint.Write({ "Channel=KVAGENT" });
    SimulateRemoteSession(true);

    _CObjectExPtr<CEndpointSession> session = CEndpointSessionFactory::CreateSession();
    EXPECT_EQ("CRdpSession", KindOf(session));
    EXPECT_EQ(1, m_endpoint.Count("QuerySessionInformation server=0000000000000000 session=4294967295 class=10"));
    EXPECT_EQ(0, CCtxLibrary::GetUserCount());
    EXPECT_FALSE(CitrixLibraryLoaded());
}

struct SearchCase
{
    std::vector<int> placed;
    int expected;
};

void PrintTo(const SearchCase& c, std::ostream* os)
{
    *os << "placed at";
    for (int place : c.placed)
        *os << " " << place;
    *os << ", loaded from " << c.expected;
}

class CitrixLibrarySearch : public EndpointSession, public ::testing::WithParamInterface<SearchCase>
{
};

TEST_P(CitrixLibrarySearch, CitrixSessionLoadsTheLibraryFromTheFirstPlaceThatHasIt)
{
    CitrixPlacement placed(GetParam().placed);
    m_endpoint.Write({ "ClientName=ICA-ENDPOINT-7" });
    SimulateRemoteSession(true);

    {
        _CObjectExPtr<CEndpointSession> session = CEndpointSessionFactory::CreateSession();
        ASSERT_EQ("CCtxSession", KindOf(session));
        EXPECT_TRUE(session->IsRemote());
        EXPECT_EQ(1, CCtxLibrary::GetUserCount());
        EXPECT_EQ(0, _wcsicmp(CitrixPlace(GetParam().expected).c_str(), LoadedCitrixPath().c_str()))
            << "loaded from " << std::string(LoadedCitrixPath().begin(), LoadedCitrixPath().end());

        CStringEx name(L"stale");
        EXPECT_TRUE(session->GetClientName(name));
        EXPECT_STREQ(L"ICA-ENDPOINT-7", name.GetString());
    }
    EXPECT_TRUE(m_endpoint.AllocationsFreed());
    EXPECT_EQ(nullptr, CCtxLibrary::Api().QuerySessionInformationW);
}

INSTANTIATE_TEST_SUITE_P(Places, CitrixLibrarySearch,
                         ::testing::Values(SearchCase{ { 0 }, 0 }, SearchCase{ { 1 }, 1 },
                                           SearchCase{ { 2 }, 2 }, SearchCase{ { 3 }, 3 },
                                           SearchCase{ { 2, 3 }, 2 }, SearchCase{ { 1, 2, 3 }, 1 },
                                           SearchCase{ { 0, 1, 2, 3 }, 0 }));

TEST_F(EndpointSession, LibraryStaysLoadedWhileAChannelOutlivesTheSession)
{
    CitrixPlacement placed({ 2 });
    m_endpoint.Write({ "ClientName=ICA-ENDPOINT" });
    SimulateRemoteSession(true);

    _CObjectExPtr<CEndpointSession> session = CEndpointSessionFactory::CreateSession();
    ASSERT_EQ("CCtxSession", KindOf(session));
    _CObjectExPtr<CObjectEx> channel = session->OpenVirtualChannel(nullptr, L"KVAGENT");
    ASSERT_TRUE(channel);
    EXPECT_EQ(1, channel->GetRefCount());
    EXPECT_TRUE(CObjectExQIPtr<CVirtualChannelImpl>(_CObjectExPtr<CObjectEx>(channel)));
    EXPECT_EQ(2, CCtxLibrary::GetUserCount());

    session.Reset();
    EXPECT_EQ(1, CCtxLibrary::GetUserCount());
    EXPECT_TRUE(CitrixLibraryLoaded());
    EXPECT_NE(nullptr, CCtxLibrary::Api().VirtualChannelOpen);

    channel.Reset();
    EXPECT_FALSE(CitrixLibraryLoaded());
}

struct NameCase
{
    const char* kind;
    bool remote;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.kind << (c.remote ? " in a remote session" : " in the console");
}

class EndpointClientName : public EndpointSession, public ::testing::WithParamInterface<NameCase>
{
};

TEST_P(EndpointClientName, AnswersFalseWithAnEmptyName)
{
    SimulateRemoteSession(GetParam().remote);
    _CObjectExPtr<CEndpointSession> session;
    if (strcmp(GetParam().kind, "console") == 0)
        session = MakeObjectEx<CConsoleSession>();
    else
        session = MakeObjectEx<CRdpSession>();
    EXPECT_FALSE(session->IsCurrent());
    CStringEx name(L"stale");
    EXPECT_FALSE(session->GetClientName(name));
    EXPECT_TRUE(name.IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, EndpointClientName,
                         ::testing::Values(NameCase{ "console", true }, NameCase{ "rdp", false }));

TEST_F(EndpointSession, RemoteDesktopNamesItsClientAsTerminalServicesReports)
{
    SimulateRemoteSession(true);
    _CObjectExPtr<CRdpSession> session = MakeObjectEx<CRdpSession>();
    CStringEx name(L"stale");
    LPWSTR expected = nullptr;
    DWORD bytes = 0;
    const BOOL known = WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientName,
                                                   &expected, &bytes);
    // Wine answers this class with a failure, which the session passes on as an empty name.
    EXPECT_EQ(known, session->GetClientName(name));
    EXPECT_STREQ(known ? expected : L"", name.GetString());
    WTSFreeMemory(expected);
}

TEST_F(EndpointSession, CitrixSessionWithoutTheLibraryIsNotCurrentAndHasNoName)
{
    CitrixPlacement placed({});
    _CObjectExPtr<CCtxSession> session = MakeObjectEx<CCtxSession>();
    EXPECT_EQ(nullptr, CCtxLibrary::GetModule());
    EXPECT_FALSE(session->IsCurrent());
    CStringEx name(L"stale");
    EXPECT_FALSE(session->GetClientName(name));
    EXPECT_TRUE(name.IsEmpty());
}

TEST_F(EndpointSession, RegistrationRefusesDuplicatesAndRecordsThatCannotCreate)
{
    EXPECT_FALSE(CEndpointSessionFactory::Register(&CConsoleSession::s_classInfo));
    EXPECT_FALSE(CEndpointSessionFactory::Register(&CObjectEx::s_classInfo));
    EXPECT_FALSE(CEndpointSessionFactory::Register(nullptr));
    EXPECT_EQ("CConsoleSession", KindOf(CEndpointSessionFactory::CreateSession()));
}

TEST(EndpointResources, ChannelNameLoadsAndFitsACitrixChannelName)
{
    ASSERT_EQ(0u, CResourceLoader::Instance().Load());
    CStringEx name;
    ASSERT_TRUE(CResourceLoader::Instance().LoadString(IDS_VC_CHANNEL_NAME, name));
    // Citrix channel names are at most 7 characters of 8-bit text.
    EXPECT_GE(name.GetLength(), 1);
    EXPECT_LE(name.GetLength(), 7);
    for (int i = 0; i < name.GetLength(); ++i)
        EXPECT_LT(name.GetAt(i), 0x80);
}
