#include "EndpointTestSupport.h"
#include "cartlink/CConsoleSession.h"
#include "cartlink/CCtxLibrary.h"
#include "cartlink/CEndpointSessionFactory.h"
#include <gtest/gtest.h>

using namespace endpoint_test;

// Every program but the agent knows only the console kind.
static const TEndpointSessionRegistration<CConsoleSession> s_consoleSession;

TEST(EndpointConsoleOnly, FindsTheConsoleAndNoSessionElsewhereEvenWithCitrixInstalled)
{
    CitrixPlacement placed({ 0 });
    EndpointConfig endpoint;
    endpoint.Write({ "ClientName=ICA-ENDPOINT", "Channel=KVAGENT" });

    _CObjectExPtr<CEndpointSession> session = CEndpointSessionFactory::CreateSession();
    ASSERT_TRUE(session);
    EXPECT_STREQ("CConsoleSession", session->GetClassInfo()->name);

    SimulateRemoteSession(true);
    EXPECT_FALSE(CEndpointSessionFactory::CreateSession());
    SimulateRemoteSession(false);

    EXPECT_EQ(nullptr, GetModuleHandleW(L"wfapi64.dll"));
    EXPECT_TRUE(endpoint.Trace().empty());
}
