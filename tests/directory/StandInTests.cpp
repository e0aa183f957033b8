#include "tests/directory/DirectoryTestSupport.h"

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
    UseDirectory(kStandardDirectory);
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
