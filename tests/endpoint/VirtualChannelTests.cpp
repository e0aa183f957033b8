#include "EndpointTestSupport.h"
#include "cartlink/CCtxLibrary.h"
#include "cartlink/CCtxSession.h"
#include "cartlink/CCtxVirtualChannel.h"
#include "cartlink/CVirtualChannelImpl.h"
#include <gtest/gtest.h>
#include <cstring>

using namespace endpoint_test;

namespace
{
// A reply of 20 bytes: length 20, type 2, value 14, then 14 bytes of data.
const char* const ReplyOf20 = "Reply=14 00 02 00 0E 00 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E";
const BYTE ReplyData[14] = { 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N' };

// Generous bounds: Wine under load on two shared cores.
constexpr DWORD NotifyWithinMs = 5000;
constexpr DWORD QuietForMs = 300;

class CitrixChannel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SimulateRemoteSession(true);
        m_session = MakeObjectEx<CCtxSession>();
    }

    void TearDown() override
    {
        m_session.Reset();
        SimulateRemoteSession(false);
        EXPECT_EQ(0, CCtxLibrary::GetUserCount());
        EXPECT_EQ(nullptr, GetModuleHandleW(L"wfapi64.dll"));
    }

    // The endpoint's settings: a driver on channel KVAGENT and whatever the test adds.
    void Endpoint(std::vector<std::string> lines)
    {
        lines.insert(lines.begin(), { "ClientName=ICA-ENDPOINT", "Channel=KVAGENT" });
        m_endpoint.Write(lines);
    }

    CObjectExQIPtr<CVirtualChannelImpl> Open(HWND window)
    {
        return CObjectExQIPtr<CVirtualChannelImpl>(m_session->OpenVirtualChannel(window, L"KVAGENT"));
    }

    void ExpectNotification(WPARAM type, LPARAM value)
    {
        WPARAM gotType = 0;
        LPARAM gotValue = 0;
        ASSERT_TRUE(m_window.Wait(NotifyWithinMs, &gotType, &gotValue)) << "no notification";
        EXPECT_EQ(type, gotType);
        EXPECT_EQ(value, gotValue);
    }

    void ExpectNoNotification()
    {
        WPARAM type = 0;
        LPARAM value = 0;
        EXPECT_FALSE(m_window.Wait(QuietForMs, &type, &value)) << "unexpected notification " << type << ", " << value;
    }

    CitrixPlacement m_placed{ { 0 } };
    EndpointConfig m_endpoint;
    NotificationWindow m_window;
    _CObjectExPtr<CCtxSession> m_session;
};
}

TEST_F(CitrixChannel, PingReachesTheEndpointAndItsReplyReachesTheWindowAndGetData)
{
    Endpoint({ "PacketSize=64", ReplyOf20 });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel);

    ASSERT_TRUE(channel->Ping());
    ExpectNotification(2, 14);
    BYTE data[14] = {};
    EXPECT_TRUE(channel->GetData(data, sizeof(data)));
    EXPECT_EQ(0, memcmp(ReplyData, data, sizeof(data)));
    ExpectNoNotification();

    EXPECT_EQ(1, m_endpoint.Count("Open server=0000000000000000 session=4294967295 name=KVAGENT"));
    EXPECT_EQ(1, m_endpoint.Count("Query class=0"));
    EXPECT_EQ(1, m_endpoint.Count("Write 060001000000"));
    EXPECT_EQ(1, m_endpoint.Count("ReadEx size=64"));

    channel.Reset();
    EXPECT_EQ(1, m_endpoint.Count("Close"));
    EXPECT_TRUE(m_endpoint.AllocationsFreed());
}

TEST_F(CitrixChannel, EndpointWithoutTheChannelDriverFailsThePingAndSendsNothing)
{
    m_endpoint.Write({ "ClientName=ICA-ENDPOINT", ReplyOf20 });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel);

    EXPECT_FALSE(channel->Ping());
    EXPECT_FALSE(channel->GetData(nullptr, 0));
    EXPECT_EQ(1, m_endpoint.Count("Open "));
    EXPECT_EQ(0, m_endpoint.Count("Write "));
    ExpectNoNotification();
}

struct UnpingableCase
{
    const char* name;
    std::vector<std::string> settings;
    bool staysOpen;
};

void PrintTo(const UnpingableCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnpingableEndpoint : public CitrixChannel, public ::testing::WithParamInterface<UnpingableCase>
{
};

TEST_P(UnpingableEndpoint, PingFailsWithoutSending)
{
    Endpoint(GetParam().settings);
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel);

    EXPECT_FALSE(channel->Ping());
    EXPECT_FALSE(channel->Ping());
    EXPECT_EQ(0, m_endpoint.Count("Write "));
    // An open channel is reused by the next ping; a failed query shuts the channel down.
    EXPECT_EQ(GetParam().staysOpen ? 1 : 2, m_endpoint.Count("Open "));
    EXPECT_EQ(GetParam().staysOpen ? 0 : 2, m_endpoint.Count("Close"));
    EXPECT_TRUE(m_endpoint.AllocationsFreed());
    ExpectNoNotification();
}

INSTANTIATE_TEST_SUITE_P(
    Endpoints, UnpingableEndpoint,
    ::testing::Values(UnpingableCase{ "PacketShorterThanHeader", { "PacketSize=5", ReplyOf20 }, true },
                      UnpingableCase{ "ClientDataQueryFails", { "PacketSize=-1", ReplyOf20 }, false },
                      UnpingableCase{ "ClientDataTooShortForPacketSize", { "ClientDataSize=49", ReplyOf20 }, false }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CitrixChannel, GetDataWhileTheReaderWaitsCancelsItAndAnswersFalse)
{
    Endpoint({ "PacketSize=64" }); // the endpoint never answers
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel && channel->Ping());
    Sleep(100);

    const ULONGLONG start = GetTickCount64();
    BYTE data[8] = {};
    EXPECT_FALSE(channel->GetData(data, sizeof(data)));
    EXPECT_LT(ElapsedMs(start), 2500);
    ExpectNotification(1, 0);
    ExpectNoNotification();
    // The reader is gone: there is nothing more to collect.
    EXPECT_FALSE(channel->GetData(data, sizeof(data)));
}

TEST_F(CitrixChannel, PingWhileTheReaderWaitsCancelsItAndPingsAgain)
{
    Endpoint({ "PacketSize=64", ReplyOf20, "ReplyDelayMs=1000" });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel);

    ASSERT_TRUE(channel->Ping());
    Sleep(100);
    ASSERT_TRUE(channel->Ping());
    // The cancelled reader reports the ping's type and no data, then the new reader the reply.
    ExpectNotification(1, 0);
    ExpectNotification(2, 14);
    ExpectNoNotification();
    BYTE data[14] = {};
    EXPECT_TRUE(channel->GetData(data, sizeof(data)));
    EXPECT_EQ(0, memcmp(ReplyData, data, sizeof(data)));

    EXPECT_EQ(1, m_endpoint.Count("Open "));
    EXPECT_EQ(2, m_endpoint.Count("Write 060001000000"));
}

struct ReadErrorCase
{
    const char* setting;
    DWORD exitCode;
};

void PrintTo(const ReadErrorCase& c, std::ostream* os)
{
    *os << c.setting;
}

class CitrixChannelFailedRead : public CitrixChannel, public ::testing::WithParamInterface<ReadErrorCase>
{
};

TEST_P(CitrixChannelFailedRead, ReaderPostsThePingTypeAndEndsWithTheReadError)
{
    Endpoint({ "PacketSize=64", ReplyOf20, GetParam().setting });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel && channel->Ping());
    ExpectNotification(1, 0);

    // Read once more on this thread to see the exit code the reader thread ended with.
    EXPECT_EQ(GetParam().exitCode, channel->ReadPacket());
    ExpectNotification(1, 0);

    BYTE data[14];
    memset(data, 0xCC, sizeof(data));
    EXPECT_FALSE(channel->GetData(data, sizeof(data)));
    EXPECT_EQ(0xCC, data[0]);
    // With the reader collected its stop event is gone: a read now is refused.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), channel->ReadPacket());
    ExpectNoNotification();
}

INSTANTIATE_TEST_SUITE_P(Errors, CitrixChannelFailedRead,
                         ::testing::Values(ReadErrorCase{ "ReadError=5", 5 },
                                           ReadErrorCase{ "ReadError=0", ERROR_UNIDENTIFIED_ERROR }));

struct CopyCase
{
    int packetSize;
    const char* reply;
    DWORD requested;
    DWORD copied;
};

void PrintTo(const CopyCase& c, std::ostream* os)
{
    *os << "packet " << c.packetSize << ", asked " << c.requested << ", copied " << c.copied;
}

class CitrixChannelGetData : public CitrixChannel, public ::testing::WithParamInterface<CopyCase>
{
};

TEST_P(CitrixChannelGetData, CopiesOnlyTheDataAfterTheHeaderWithinThePacket)
{
    Endpoint({ "PacketSize=" + std::to_string(GetParam().packetSize), GetParam().reply });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel && channel->Ping());
    WPARAM type = 0;
    LPARAM value = 0;
    ASSERT_TRUE(m_window.Wait(NotifyWithinMs, &type, &value));

    BYTE data[32];
    memset(data, 0xCC, sizeof(data));
    EXPECT_TRUE(channel->GetData(data, GetParam().requested));
    EXPECT_EQ(0, memcmp(ReplyData, data, GetParam().copied));
    for (DWORD i = GetParam().copied; i < sizeof(data); ++i)
        ASSERT_EQ(0xCC, data[i]) << "byte " << i << " was written";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CitrixChannelGetData,
    ::testing::Values(CopyCase{ 20, ReplyOf20, 14, 14 },  // exactly the data
                      CopyCase{ 64, ReplyOf20, 4, 4 },    // the caller's buffer is smaller
                      CopyCase{ 8, "Reply=08 00 02 00 02 00 41 42", 14, 2 }, // the packet is smaller
                      CopyCase{ 6, "Reply=06 00 02 00 00 00", 14, 0 }));     // a header alone

TEST_F(CitrixChannel, GetDataHandsOverOnlyWhatTheLastPacketBrought)
{
    Endpoint({ "PacketSize=64", ReplyOf20 });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel && channel->Ping());
    ExpectNotification(2, 14);
    BYTE data[32];
    ASSERT_TRUE(channel->GetData(data, sizeof(data)));

    // A shorter reply in the same buffer: the bytes of the first reply after it stay behind.
    Endpoint({ "PacketSize=64", "Reply=08 00 02 00 02 00 61 62" });
    ASSERT_TRUE(channel->Ping());
    ExpectNotification(2, 2);
    memset(data, 0xCC, sizeof(data));
    ASSERT_TRUE(channel->GetData(data, sizeof(data)));
    EXPECT_EQ('a', data[0]);
    EXPECT_EQ('b', data[1]);
    for (DWORD i = 2; i < sizeof(data); ++i)
        ASSERT_EQ(0xCC, data[i]) << "byte " << i << " came from an earlier packet";
}

TEST_F(CitrixChannel, ReleasingTheChannelWhileTheReaderWaitsEndsTheReaderAndFreesTheLibrary)
{
    Endpoint({ "PacketSize=64" });
    auto channel = Open(m_window.Handle());
    ASSERT_TRUE(channel && channel->Ping());
    m_session.Reset();
    EXPECT_EQ(1, CCtxLibrary::GetUserCount());

    const ULONGLONG start = GetTickCount64();
    channel.Reset();
    EXPECT_LT(ElapsedMs(start), 2500);
    ExpectNotification(1, 0);
    EXPECT_EQ(1, m_endpoint.Count("Close"));
    EXPECT_EQ(0, CCtxLibrary::GetUserCount());
}

TEST_F(CitrixChannel, ReaderWithoutAWindowEndsAtOnceAndPostsNothing)
{
    Endpoint({ "PacketSize=64", ReplyOf20 });
    auto channel = Open(nullptr);
    ASSERT_TRUE(channel && channel->Ping());
    EXPECT_FALSE(channel->GetData(nullptr, 0));
    EXPECT_EQ(0, m_endpoint.Count("ReadEx"));
    ExpectNoNotification();
}

TEST_F(CitrixChannel, RawChannelRefusesEmptyNamesAndClosesBeforeReopening)
{
    Endpoint({});
    CCtxVirtualChannel channel;
    EXPECT_FALSE(channel.Open(nullptr));
    EXPECT_FALSE(channel.Open(L""));
    EXPECT_FALSE(channel.Close());
    EXPECT_EQ(0, m_endpoint.Count("Open "));
    WORD size = 7;
    EXPECT_FALSE(channel.QueryPacketSize(&size));
    EXPECT_EQ(0, size);
    DWORD count = 0;
    EXPECT_FALSE(channel.Write(reinterpret_cast<const BYTE*>("x"), 1, &count));

    ASSERT_TRUE(channel.Open(L"KVAGENT"));
    ASSERT_TRUE(channel.Open(L"kvagent"));
    EXPECT_EQ(1, m_endpoint.Count("Close"));
    EXPECT_TRUE(channel.QueryPacketSize(&size));
    EXPECT_EQ(1024, size);
    EXPECT_TRUE(channel.Close());
    EXPECT_FALSE(channel.Close());
    EXPECT_EQ(2, m_endpoint.Count("Close"));
}

TEST(IncompleteCitrixLibrary, MissingEntryPointsFailTheirOperationsAndNothingElse)
{
    CitrixPlacement placed({ 0 }, true);
    EndpointConfig endpoint;
    endpoint.Write({ "ClientName=ICA-ENDPOINT", "Channel=KVAGENT", ReplyOf20 });
    SimulateRemoteSession(true);
    NotificationWindow window;
    {
        // Without the session query a Citrix session cannot be told.
        _CObjectExPtr<CCtxSession> session = MakeObjectEx<CCtxSession>();
        ASSERT_NE(nullptr, CCtxLibrary::GetModule());
        EXPECT_EQ(nullptr, CCtxLibrary::Api().QuerySessionInformationW);
        EXPECT_FALSE(session->IsCurrent());
        CStringEx name(L"stale");
        EXPECT_FALSE(session->GetClientName(name));
        EXPECT_TRUE(name.IsEmpty());

        // The channel opens, but without the client data query it cannot be pinged.
        CObjectExQIPtr<CVirtualChannelImpl> channel(session->OpenVirtualChannel(window.Handle(), L"KVAGENT"));
        ASSERT_TRUE(channel);
        EXPECT_FALSE(channel->Ping());
        EXPECT_EQ(1, endpoint.Count("Open "));
        EXPECT_EQ(1, endpoint.Count("Close"));

        // A raw channel writes but cannot read.
        CCtxVirtualChannel raw;
        ASSERT_TRUE(raw.Open(L"KVAGENT"));
        const BYTE ping[6] = { 6, 0, 1, 0, 0, 0 };
        DWORD count = 0;
        EXPECT_TRUE(raw.Write(ping, sizeof(ping), &count));
        EXPECT_EQ(6u, count);
        BYTE buffer[64];
        CEventEx cancel;
        EXPECT_FALSE(raw.Read(0, buffer, sizeof(buffer), &count));
        EXPECT_FALSE(raw.ReadEx(cancel, buffer, sizeof(buffer), &count));
        WORD size = 9;
        EXPECT_FALSE(raw.QueryPacketSize(&size));
        EXPECT_EQ(0, size);
    }
    SimulateRemoteSession(false);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"wfapi64.dll"));
    WPARAM type = 0;
    LPARAM value = 0;
    EXPECT_FALSE(window.Wait(QuietForMs, &type, &value));
}
