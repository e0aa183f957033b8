#pragma once
// The fixture of the agent's road tests: one road (cart, stand-ins, agent) per test, with
// what the cart received from a mark on.
#include "tests/agentauth/AgentRoad.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

constexpr DWORD kStepMs = 8000;      // bound of one step of a road
constexpr DWORD kNothingMs = 1500;   // how long "nothing more happens" is watched

// A road walked with retry configured or not.
struct RetryCase
{
    const char* name;
    bool retry;

    static std::string Name(const ::testing::TestParamInfo<RetryCase>& info) { return info.param.name; }
};

inline void PrintTo(const RetryCase& c, std::ostream* os)
{
    *os << c.name;
}

class AuthRoad : public ::testing::Test
{
protected:
    void Start(const AgentRoadOptions& options = AgentRoadOptions())
    {
        ASSERT_TRUE(road.Start(options)) << ScenarioUtf8(road.GetErrorText().c_str()) << "\n"
                                         << road.Cart().Transcript();
        computer = road.ComputerName();
        from = road.Cart().Mark();
    }
    void TearDown() override
    {
        EXPECT_TRUE(road.Stop());
    }
    bool CartSees(const std::wstring& text, DWORD boundMs = kStepMs)
    {
        return road.Cart().WaitForExchange(text.c_str(), from, boundMs);
    }
    size_t CartCount(const std::wstring& text) { return road.CountCart(text.c_str(), from); }
    // Index of the first cart line from the mark that contains the text; -1 when none.
    int CartLine(const std::wstring& text)
    {
        const std::vector<CStringEx> lines = road.Cart().GetLines();
        for (size_t i = from; i < lines.size(); ++i)
        {
            if (std::wstring(lines[i]).find(text) != std::wstring::npos)
                return static_cast<int>(i);
        }
        return -1;
    }
    std::string Transcript() { return road.Cart().Transcript(); }
    // Status polls the cart served within the next `ms` milliseconds.
    size_t PollsWithin(DWORD ms)
    {
        const size_t mark = road.Cart().Mark();
        Sleep(ms);
        return road.CountCart(L"access state", mark);
    }
    // An administrator presses the button of a cart bound to another computer, and the
    // question whether to bind it here is open.
    void StartWithTheRebindQuestionOpen()
    {
        AgentRoadOptions options;
        options.user = L"kiosk";
        options.cartArguments = L"--bound OTHER-WS";
        Start(options);
        ASSERT_TRUE(road.Press());
        ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    }
    std::wstring Granted(const std::wstring& user, int mode)
    {
        return L"drawer access granted to " + user + L" on " + computer + L" (mode " + std::to_wstring(mode) + L")";
    }

    CAgentRoad road;
    std::wstring computer;
    size_t from = 0;
};
