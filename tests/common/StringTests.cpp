#include "common/CMultiSzStringEx.h"
#include "common/CStringEx.h"
#include <gtest/gtest.h>
#include <string>

namespace
{
std::wstring Chars(const CMultiSzStringEx& list)
{
    return list.GetData() ? std::wstring(list.GetData(), list.GetLength()) : std::wstring();
}
}

TEST(MultiSz, StringsAreNulSeparatedWithAFinalDoubleNul)
{
    CMultiSzStringEx list;
    EXPECT_EQ(0u, list.GetLength());
    EXPECT_EQ(0u, list.GetCount());

    EXPECT_TRUE(list.Add(L"a"));
    EXPECT_EQ(std::wstring(L"a\0\0", 3), Chars(list));
    EXPECT_TRUE(list.Add(L"bc", -1));
    EXPECT_EQ(std::wstring(L"a\0bc\0\0", 6), Chars(list));
    EXPECT_EQ(2u, list.GetCount());
}

TEST(MultiSz, EmptyTextsAndZeroLengthsAddNothing)
{
    CMultiSzStringEx list;
    EXPECT_TRUE(list.Add(L""));
    EXPECT_TRUE(list.Add(L"ignored", 0));
    EXPECT_EQ(0u, list.GetCount());
    EXPECT_EQ(0u, list.GetLength());

    list.Add(L"x");
    list.Add(L"");
    EXPECT_EQ(std::wstring(L"x\0\0", 3), Chars(list));
    EXPECT_EQ(1u, list.GetCount());
}

TEST(MultiSz, LengthTakesAPrefixAndManyAddsGrowTheBuffer)
{
    CMultiSzStringEx list;
    list.Add(L"abcdef", 3);
    std::wstring expected(L"abc", 3);
    for (int i = 0; i < 500; ++i)
    {
        list.Add(L"item");
        expected.append(L"\0item", 5);
    }
    expected.append(L"\0\0", 2);
    EXPECT_EQ(expected, Chars(list));
    EXPECT_EQ(501u, list.GetCount());
}

TEST(MultiSz, ARequestBeyondTheLimitFailsWithoutChange)
{
    CMultiSzStringEx list;
    list.Add(L"keep");
    EXPECT_FALSE(list.Add(L"huge", 0x40000000));
    EXPECT_EQ(std::wstring(L"keep\0\0", 6), Chars(list));
    EXPECT_EQ(1u, list.GetCount());
}

TEST(StringEx, FormatTakesWideStringsAndKeepsPercentSignsOfArguments)
{
    CStringEx s;
    s.Format(L"%s\\%s%04d%02d%02d.log", L"C:\\Logs", L"Agent%d", 2026, 12, 7);
    EXPECT_STREQ(L"C:\\Logs\\Agent%d20261207.log", s);
    s.AppendFormat(L" %d%%", 5);
    EXPECT_STREQ(L"C:\\Logs\\Agent%d20261207.log 5%", s);
}

TEST(StringEx, TheCachedBstrFollowsTheTextAndBelongsToTheString)
{
    CStringEx s(L"first");
    BSTR b1 = s.GetBSTR();
    ASSERT_NE(nullptr, b1);
    EXPECT_EQ(5u, SysStringLen(b1));
    EXPECT_EQ(b1, s.GetBSTR()); // cached while the text is unchanged
    s += L" second";
    BSTR b2 = s.GetBSTR();
    EXPECT_STREQ(L"first second", b2);

    CStringEx copy = s; // a copy has a cache of its own
    EXPECT_NE(b2, copy.GetBSTR());
    EXPECT_STREQ(L"first second", copy.GetBSTR());
}

TEST(StringEx, SearchAndTrimHelpers)
{
    CStringEx s(L"  DOMAIN\\user  ");
    s.Trim();
    EXPECT_STREQ(L"DOMAIN\\user", s);
    const int slash = s.Find(L'\\');
    EXPECT_EQ(6, slash);
    EXPECT_STREQ(L"DOMAIN", s.Left(slash));
    EXPECT_STREQ(L"user", s.Mid(slash + 1));
    EXPECT_EQ(-1, s.Find(L"@"));
    EXPECT_EQ(0, s.CompareNoCase(L"domain\\USER"));
    EXPECT_STREQ(L"", s.Mid(100));
    EXPECT_STREQ(L"user", s.Right(4));
}

TEST(StringEx, BufferFilledByAnApiEndsAtItsNul)
{
    CStringEx s;
    wchar_t* buffer = s.GetBuffer(MAX_PATH);
    const DWORD n = GetEnvironmentVariableW(L"KELVO_UNSET_VARIABLE_FOR_TEST", buffer, MAX_PATH);
    EXPECT_EQ(0u, n);
    wcscpy(buffer, L"filled");
    s.ReleaseBuffer();
    EXPECT_EQ(6, s.GetLength());
}
