// The agent's operations on the single sign-on product, played by the stand-in.
#include "agent/CKelvoSignOnClient.h"
#include "agent/KelvoAgentMessages.h"
#include "tests/signon/SignOnTestWorld.h"
#include "resources/KVIdsSignOn.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace
{
// Generous for a loaded machine running Wine: the stand-in reports after its delay.
constexpr DWORD kWaitMs = 10000;
constexpr HRESULT kNotRegistered = REGDB_E_CLASSNOTREG;

std::wstring Number(long value)
{
    return std::to_wstring(value);
}

// The journal from the first line that starts with prefix on.
std::vector<std::wstring> From(const std::vector<std::wstring>& journal, const std::wstring& first)
{
    auto it = std::find(journal.begin(), journal.end(), first);
    return std::vector<std::wstring>(it, journal.end());
}

int IndexOf(const std::vector<std::wstring>& journal, const std::wstring& prefix)
{
    for (size_t i = 0; i < journal.size(); ++i)
        if (journal[i].compare(0, prefix.size(), prefix) == 0)
            return static_cast<int>(i);
    return -1;
}

class SignOnClientTest : public ::testing::Test
{
protected:
    void SetUp() override { m_client.SetAgentWindow(m_world.Window(), L"Kelvo Agent"); }

    // Starts a prompt of run 1 that stays open until the test ends it.
    void StartOpenPrompt()
    {
        m_world.Configure({L"Callback=0"});
        ASSERT_EQ(m_client.StartPrompt(1, 15, TRUE), S_OK);
    }

    SignOnTestWorld m_world;
    CKelvoSignOnClient m_client;
};

TEST_F(SignOnClientTest, StartResetsAndConfiguresThePromptThenStartsItWithCompanionAndCallback)
{
    m_world.Configure({L"Callback=0"});
    ASSERT_EQ(m_client.StartPrompt(7, 42, TRUE), S_OK);

    const POINT place = CKelvoSignOnClient::GetPromptPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    const std::wstring caption = SignOnTestWorld::Text(IDS_SIGNON_PROMPT_CAPTION);
    const std::wstring text = SignOnTestWorld::Text(IDS_SIGNON_PROMPT_TEXT);
    EXPECT_THAT(m_world.Journal(),
                ElementsAre(L"Auth new", L"Auth 11", L"Auth 33 0", L"Auth 35 0", L"Auth 51 " + caption,
                            L"Auth 69 " + caption, L"Auth 49 " + text, L"Auth 71 " + caption, L"Auth 47 0",
                            L"Auth 59 42", L"Auth 37 " + Number(place.x), L"Auth 39 " + Number(place.y),
                            L"Auth 45 0", L"Auth 73 Default(Red)", L"Companion new",
                            L"Auth 8 companion=1 callback=1"));
    if (GetSystemMetrics(SM_CXSCREEN) == 1024 && GetSystemMetrics(SM_CYSCREEN) == 768)
    {
        EXPECT_EQ(place.x, 128);
        EXPECT_EQ(place.y, 302);
    }
    // The run is the window's: the client announces nothing itself.
    m_world.Pump(100);
    EXPECT_TRUE(m_world.PostedMessages().empty());
    EXPECT_TRUE(m_world.LogLines().empty());
    EXPECT_TRUE(m_world.Boxes().empty());
}

TEST_F(SignOnClientTest, CompanionTheProductCannotGiveIsPassedAsNull)
{
    m_world.Configure({L"Callback=0", L"CompanionResult=0x80004005"});
    ASSERT_EQ(m_client.StartPrompt(1, 15, TRUE), S_OK);
    const std::vector<std::wstring> journal = m_world.Journal();
    EXPECT_EQ(IndexOf(journal, L"Companion new"), -1);
    EXPECT_EQ(journal.back(), L"Auth 8 companion=0 callback=1");
}

// The product reports a result from a thread of its own after the prompt's delay.
class SignOnCallbackResultTest : public SignOnClientTest, public ::testing::WithParamInterface<LONG>
{
};

TEST_P(SignOnCallbackResultTest, ResultReachesTheWindowSignExtendedWithItsRunAfterThePromptIsClosed)
{
    const LONG result = GetParam();
    m_world.Configure({L"CallbackDelayMs=300", L"CallbackResult=" + Number(result)});
    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(m_client.StartPrompt(23, 15, FALSE), S_OK);

    SignOnTestWorld::Posted posted{};
    ASSERT_TRUE(m_world.WaitForPosted(WM_AGENT_AUTH_RESULT, kWaitMs, &posted));
    EXPECT_GE(GetTickCount64() - start, 250u) << "not before the prompt's delay";
    EXPECT_EQ(posted.wParam, static_cast<WPARAM>(static_cast<INT_PTR>(result)));
    EXPECT_EQ(posted.lParam, 23);

    // The product called on its own thread, and the callback closed the prompt before posting.
    const std::vector<std::wstring> journal = From(m_world.Journal(), L"Auth 8 companion=1 callback=1");
    ASSERT_GE(journal.size(), 3u);
    const std::wstring callback = L"Callback 9 " + Number(result) + L" thread=";
    ASSERT_EQ(journal[1].compare(0, callback.size(), callback), 0) << journal[1];
    const DWORD thread = std::stoul(journal[1].substr(callback.size()));
    EXPECT_NE(thread, GetCurrentThreadId());
    EXPECT_EQ(journal[2], L"Auth 9");
}

INSTANTIATE_TEST_SUITE_P(Results, SignOnCallbackResultTest,
                         ::testing::Values(0, -1, 1, static_cast<LONG>(0x80004005), 0x7FFFFFFF));

TEST_F(SignOnClientTest, IdentityAndMethodsAreReadFromTheProductSkippingItemsItCannotGive)
{
    m_world.Configure({L"Callback=0", L"Principal=jane.doe@CONTOSO", L"Methods=1, 3,12", L"FailedItems=2"});
    CStringEx principal;
    std::vector<CStringEx> methods;
    EXPECT_EQ(m_client.ReadIdentity(principal), E_POINTER) << "no product object before the first start";
    EXPECT_EQ(m_client.ReadMethods(methods), E_POINTER);

    ASSERT_EQ(m_client.StartPrompt(1, 15, FALSE), S_OK);
    const size_t started = m_world.Journal().size();
    ASSERT_EQ(m_client.ReadIdentity(principal), S_OK);
    EXPECT_EQ(principal, L"jane.doe@CONTOSO");
    ASSERT_EQ(m_client.ReadMethods(methods), S_OK);
    EXPECT_THAT(methods, ElementsAre(CStringEx(L"1"), CStringEx(L"12")));

    const std::vector<std::wstring> journal = m_world.Journal();
    EXPECT_THAT(std::vector<std::wstring>(journal.begin() + static_cast<long>(started), journal.end()),
                ElementsAre(L"Auth 28", L"Identity 17", L"Auth 30", L"MethodList 9", L"MethodList 8 1",
                            L"MethodList 8 2", L"MethodList 8 3"));
}

// Ending the product's side of a run, from each place a run can end.
struct EndCase
{
    const char* name;
    bool promptOpen;
    bool reset;
    std::vector<std::wstring> calls;
};

void PrintTo(const EndCase& c, std::ostream* out)
{
    *out << c.name;
}

class SignOnEndSessionTest : public SignOnClientTest, public ::testing::WithParamInterface<EndCase>
{
};

TEST_P(SignOnEndSessionTest, ClosesAnOpenPromptResetsWhenAskedAndKeepsBackItsReport)
{
    const EndCase& c = GetParam();
    // A report already on its way when the prompt ends, which a close no longer stops.
    m_world.Configure({L"CallbackDelayMs=700", L"ReportAfterClose=1"});
    ASSERT_EQ(m_client.StartPrompt(3, 15, FALSE), S_OK);
    const size_t before = m_world.Journal().size();

    m_client.EndSession(c.promptOpen, c.reset);

    const std::vector<std::wstring> journal = m_world.Journal();
    EXPECT_THAT(std::vector<std::wstring>(journal.begin() + static_cast<long>(before), journal.end()),
                ElementsAreArray(c.calls));
    // Longer than the prompt's delay: the product reports, and only a prompt the agent did
    // not end passes its report on.
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    while (IndexOf(m_world.Journal(), L"Callback") < 0 && GetTickCount64() < end)
        m_world.Pump(20);
    ASSERT_GE(IndexOf(m_world.Journal(), L"Callback"), 0) << "the product reports after its delay";
    m_world.Pump(300);
    size_t reports = 0;
    for (const auto& posted : m_world.PostedMessages())
        reports += posted.message == WM_AGENT_AUTH_RESULT ? 1 : 0;
    EXPECT_EQ(reports, c.promptOpen ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, SignOnEndSessionTest,
    ::testing::Values(EndCase{"PromptOpen", true, false, {L"Auth 9", L"Auth 11"}},
                      EndCase{"SignedInAndRefused", false, true, {L"Auth 11"}},
                      EndCase{"Granted", false, false, {}}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

// The product holds the callback while its prompt is up and the callback holds the product:
// however the agent last used them, letting go of the product frees both.
class SignOnReleaseTest : public SignOnClientTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(SignOnReleaseTest, ReleasingTheProductLeavesNoObjectAlive)
{
    const std::string state = GetParam();
    m_world.Configure({state == "PromptOpen" ? L"Callback=0" : L"CallbackDelayMs=50"});
    ASSERT_EQ(m_client.StartPrompt(1, 15, FALSE), S_OK);
    if (state != "PromptOpen")
    {
        ASSERT_TRUE(m_world.WaitForPosted(WM_AGENT_AUTH_RESULT, kWaitMs));
        if (state == "SessionEnded")
            m_client.EndSession(false, true);
    }
    EXPECT_GT(m_world.LiveProductObjects(), 0);

    m_client.ReleaseProduct();
    EXPECT_TRUE(m_world.WaitForNoProductObjects(kWaitMs)) << m_world.LiveProductObjects() << " objects left";

    // A new start after the release makes a new product object and works as before.
    m_world.Configure({L"Callback=0"});
    EXPECT_EQ(m_client.StartPrompt(2, 15, FALSE), S_OK);
    m_client.ReleaseProduct();
    EXPECT_TRUE(m_world.WaitForNoProductObjects(kWaitMs));
}

INSTANTIATE_TEST_SUITE_P(States, SignOnReleaseTest, ::testing::Values("PromptOpen", "SignedIn", "SessionEnded"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST_F(SignOnClientTest, EndingBeforeAnyStartTouchesNoProduct)
{
    m_client.EndSession(true, true);
    m_client.ReleaseProduct();
    EXPECT_TRUE(m_world.Journal().empty());
}

// Failures of the start, with and without messages for the user.
class SignOnStartFailureTest : public SignOnClientTest, public ::testing::WithParamInterface<BOOL>
{
protected:
    void ExpectReported(UINT logStringId, HRESULT hr)
    {
        m_world.Pump(100);
        EXPECT_THAT(m_world.LogLines(), ElementsAre(SignOnTestWorld::Formatted(logStringId, static_cast<unsigned>(hr))));
        if (GetParam())
        {
            ASSERT_EQ(m_world.Boxes().size(), 1u);
            EXPECT_EQ(m_world.Boxes()[0].text, SignOnTestWorld::Text(IDS_SIGNON_FAILED));
            EXPECT_EQ(m_world.Boxes()[0].caption, L"Kelvo Agent");
            EXPECT_EQ(m_world.Boxes()[0].timeoutMs, 5000u);
        }
        else
        {
            EXPECT_TRUE(m_world.Boxes().empty());
        }
        EXPECT_TRUE(m_world.PostedMessages().empty()) << "no start is announced";
    }
};

TEST_P(SignOnStartFailureTest, ProductNotRegisteredIsReportedAsUnavailable)
{
    ASSERT_EQ(m_world.UnregisterProduct(), S_OK);
    const HRESULT hr = m_client.StartPrompt(1, 15, GetParam());
    EXPECT_EQ(hr, kNotRegistered);
    ExpectReported(IDS_SIGNON_CREATE_FAILED, hr);
    EXPECT_TRUE(m_world.Journal().empty());
}

TEST_P(SignOnStartFailureTest, StartRefusedByTheProductIsReportedAndLeavesNoPromptOpen)
{
    m_world.Configure({L"StartResult=0x80070005"});
    const HRESULT hr = m_client.StartPrompt(1, 15, GetParam());
    EXPECT_EQ(hr, E_ACCESSDENIED);
    ExpectReported(IDS_SIGNON_START_FAILED, hr);
    EXPECT_EQ(m_world.Journal().back(), L"Start failed 0x80070005");

    // The product object stays: the next start goes straight to the prompt.
    m_world.Configure({L"Callback=0"});
    EXPECT_EQ(m_client.StartPrompt(2, 15, GetParam()), S_OK);
    const std::vector<std::wstring> journal = m_world.Journal();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), L"Auth new"), 1);
    EXPECT_EQ(journal.back(), L"Auth 8 companion=1 callback=1");
}

INSTANTIATE_TEST_SUITE_P(Messages, SignOnStartFailureTest, ::testing::Values(TRUE, FALSE),
                         [](const ::testing::TestParamInfo<BOOL>& info) {
                             return std::string(info.param ? "Shown" : "Logged");
                         });

struct PromptPlace
{
    int width, height, left, top;
};

void PrintTo(const PromptPlace& p, std::ostream* out)
{
    *out << p.width << "x" << p.height;
}

class SignOnPromptPositionTest : public ::testing::TestWithParam<PromptPlace>
{
};

TEST_P(SignOnPromptPositionTest, CentresThePromptRoundingTowardZero)
{
    const PromptPlace& p = GetParam();
    const POINT place = CKelvoSignOnClient::GetPromptPosition(p.width, p.height);
    EXPECT_EQ(place.x, p.left);
    EXPECT_EQ(place.y, p.top);
}

INSTANTIATE_TEST_SUITE_P(Screens, SignOnPromptPositionTest,
                         ::testing::Values(PromptPlace{1024, 768, 128, 302}, PromptPlace{1920, 1080, 576, 458},
                                           PromptPlace{1025, 769, 128, 303}, PromptPlace{768, 163, 0, 0},
                                           PromptPlace{701, 100, -33, -31}));
}
