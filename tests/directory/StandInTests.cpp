#include "tests/directory/DirectoryTestSupport.h"
#include "common/CADDirectorySearch.h"
#include <adserr.h>

// The stand-in refuses a data file it cannot read fully, answering like a directory that
// cannot be reached, and serves the corrected file at the next open.
TEST_F(DirectoryTest, MalformedDataFileLeavesTheDirectoryUnreachable)
{
    const wchar_t* broken[] = {
        L"[domain]\ndns = hq.example.com\n[user alice\n",        // header without ]
        L"[domain]\ndns = hq.example.com\n[printer p1]\n",       // unknown section
        L"[domain]\ndns = hq.example.com\n[user a]\nmembr = b\n", // unknown key
        L"dns = hq.example.com\n",                                // key outside a section
        L"[domain]\ndns = hq.example.com\n[user a]\n[user A]\n",  // duplicate account
    };
    for (const wchar_t* text : broken)
    {
        UseDirectory(text);
        CADQuery query;
        CStringEx root;
        EXPECT_FALSE(query.GetSearchRoot(root)) << std::string(text, text + wcslen(text));
        EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"Staff"));
    }
    UseDirectory(StandardDirectory());
    CADQuery query;
    CStringEx root;
    EXPECT_TRUE(query.GetSearchRoot(root));
}

TEST_F(DirectoryTest, WithoutADataFileNoDirectoryAnswers)
{
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", (m_folder + L"\\missing.ini").c_str());
    CADQuery query;
    CStringEx root;
    EXPECT_FALSE(query.GetSearchRoot(root));
    EXPECT_FALSE(query.IsLocalGroupMember(L"", L"kiosk", m_computer.c_str()));
}

// The demo's directory beside the DLL stays readable and means what its comments say.
TEST_F(DirectoryTest, DemoDirectoryServesItsNestedGroups)
{
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, n);
    path = path.substr(0, path.rfind(L'\\') + 1) + L"KelvoAdsiSim.ini";
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", path.c_str());
    CADQuery query;
    CStringEx root;
    ASSERT_TRUE(query.GetSearchRoot(root));
    EXPECT_TRUE(query.IsGroupMember(root, L"alice", L"HQ", L"Clinical Staff"));
    EXPECT_TRUE(query.IsGroupMember(root, L"bob", L"HQ", L"Clinical Staff"));
    EXPECT_FALSE(query.IsGroupMember(root, L"carol", L"HQ", L"Clinical Staff"));
    EXPECT_TRUE(query.IsGroupMember(root, L"alice", L"HQ", L"Cart Users"));
    EXPECT_TRUE(query.IsLocalGroupMember(root, L"carol", L"hq.example.com"));
    EXPECT_TRUE(query.IsLocalGroupMember(L"", L"kiosk", m_computer.c_str()));
}

// The stand-in plays the directory's result limit: a search without pages ends at it with
// no error, a paged one is served to the end. The class name "person" stands for the
// person category, which a computer account is not in. The query layer pages every search.
TEST_F(DirectoryTest, TheStandInLimitsSearchesWithoutPagesAndServesPagedOnesWhole)
{
    UseDirectory(L"[domain]\ndns = hq.example.com\nnetbios = HQ\n[computer]\nname = .\n[directory]\nsize_limit = 2\n"
                 L"[user ann]\n[user ben]\n[user cat]\n[user dan]\n[computer account WARD-PC]\n");
    auto rows = [&](DWORD pageSize, LPCWSTR filter) {
        auto search = MakeObjectEx<CADDirectorySearch>(m_root.c_str());
        ADS_SEARCHPREF_INFO preferences[2] = {};
        preferences[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
        preferences[0].vValue.dwType = ADSTYPE_INTEGER;
        preferences[0].vValue.Integer = ADS_SCOPE_SUBTREE;
        preferences[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
        preferences[1].vValue.dwType = ADSTYPE_INTEGER;
        preferences[1].vValue.Integer = pageSize;
        EXPECT_EQ(S_OK, search->SetPreferences(preferences, pageSize ? 2 : 1));
        LPWSTR attributes[] = { const_cast<LPWSTR>(L"sAMAccountName") };
        EXPECT_EQ(S_OK, search->Execute(filter, attributes, 1));
        int count = 0;
        HRESULT hr = search->GetFirstRow();
        for (; hr == S_OK; hr = search->GetNextRow())
            ++count;
        EXPECT_EQ(S_ADS_NOMORE_ROWS, hr);
        return count;
    };
    EXPECT_EQ(2, rows(0, L"(objectClass=user)"));
    EXPECT_EQ(5, rows(1, L"(objectClass=user)"));
    EXPECT_EQ(4, rows(1, L"(&(objectCategory=person)(objectClass=user))"));
    EXPECT_EQ(1, rows(1, L"(objectCategory=computer)"));
    EXPECT_EQ(4, rows(1, L"(objectCategory=user)")) << "a user's category is person";

    CADQuery query;
    _CObjectExPtr<CADQuerySearchContext> context;
    LPCWSTR attributes[] = { L"sAMAccountName" };
    ASSERT_EQ(S_OK, query.Search(m_root.c_str(), L"(objectClass=user)", attributes, 1, context));
    int count = 0;
    while (context->NextRow() == S_OK)
        ++count;
    EXPECT_EQ(5, count) << "the query layer's search stopped at the result limit";
}

namespace
{
using LastErrorFunction = DWORD(WINAPI*)();
LastErrorFunction g_standInLastError = nullptr;
int g_pageWaitsSeen = 0;

// Reads the stand-in's last ADSI error, where Wine's ADsGetLastError keeps none.
DWORD StandInLastError()
{
    const DWORD error = g_standInLastError ? g_standInLastError() : ERROR_SUCCESS;
    if (error == ERROR_MORE_DATA)
        ++g_pageWaitsSeen;
    return error;
}
}

// A server slower than its client answers an asynchronous paged search with "no more rows"
// and ERROR_MORE_DATA while a page is on its way: the query layer asks again and reads
// every row, instead of taking the wait for the end of the search.
TEST_F(DirectoryTest, AnAsynchronousPagedSearchReadsOnPastEveryPageStillOnItsWay)
{
    UseDirectory(L"[domain]\ndns = hq.example.com\nnetbios = HQ\n[computer]\nname = .\n[directory]\n"
                 L"size_limit = 2\nmax_page_size = 2\npage_wait = 1\n"
                 L"[user ann]\n[user ben]\n[user cat]\n[user dan]\n[user eve]\n");
    g_standInLastError = reinterpret_cast<LastErrorFunction>(
        reinterpret_cast<void (*)()>(StandInExport("KelvoAdsiSimLastError")));
    ASSERT_NE(nullptr, g_standInLastError);
    g_pageWaitsSeen = 0;
    CADDirectorySearch::SetLastErrorReader(&StandInLastError);

    CADQuery query;
    _CObjectExPtr<CADQuerySearchContext> context;
    LPCWSTR attributes[] = { L"sAMAccountName" };
    ASSERT_EQ(S_OK, query.Search(m_root.c_str(), L"(objectClass=user)", attributes, 1, context));
    std::vector<std::wstring> names;
    HRESULT hr;
    while ((hr = context->NextRow()) == S_OK)
    {
        CStringEx name;
        EXPECT_EQ(S_OK, context->GetString(L"sAMAccountName", name));
        names.push_back(name.GetString());
    }
    CADDirectorySearch::SetLastErrorReader(nullptr);
    EXPECT_EQ(S_ADS_NOMORE_ROWS, hr);
    EXPECT_EQ((std::vector<std::wstring>{ L"ann", L"ben", L"cat", L"dan", L"eve" }), names);
    // The pages of two rows each were waited for at rows 0, 2 and 4.
    EXPECT_EQ(3, g_pageWaitsSeen);
}
