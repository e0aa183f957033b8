// Writing through a held folder: the descriptor a written file is given (asked for through
// the seam over the security call, since Wine keeps no ACLs), what lands on the disk, and
// the files and folders it refuses to write into.
#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "configsvc/CKelvoHeldFolder.h"
#include "common/CUniqueAnyEx.h"
#include <aclapi.h>
#include <sddl.h>
#include <set>
#include <vector>

namespace
{
std::wstring g_asked;
SECURITY_INFORMATION g_parts = 0;
DWORD g_answer = ERROR_SUCCESS;

// Records the descriptor asked for as SDDL text, then answers as told (success: the real
// call is made too).
DWORD WINAPI RecordSecurity(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID owner, PSID group,
                            PACL dacl, PACL sacl)
{
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (parts & PROTECTED_DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(&descriptor, SDDL_REVISION_1,
                                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr);
    CLocalMemEx memory(text);
    g_asked = text ? text : L"";
    g_parts = parts;
    return g_answer == ERROR_SUCCESS ? SetSecurityInfo(handle, type, parts, owner, group, dacl, sacl) : g_answer;
}

std::set<std::wstring> NamesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    CFindHandleEx find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    for (BOOL more = find.IsValid(); more; more = FindNextFileW(find.Get(), &data))
    {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.insert(data.cFileName);
    }
    return names;
}

std::vector<BYTE> SidOf(const wchar_t* text)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid))
        return {};
    CLocalMemEx memory(sid);
    return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}
}

using HeldFolder = ConfigSvcWorld;

// A file planted with its maker's own protected DACL is replaced by one whose whole
// descriptor is the product's; when that descriptor cannot be set nothing is put in place,
// and no temporary file stays either way.
TEST_F(HeldFolder, AReplacedFileGetsTheWholeDescriptorAskedForOrNothingIsPutInPlace)
{
    const std::wstring folder = m_folder + L"\\held";
    const std::wstring target = folder + L"\\Agent.exe.config";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteFileText(target, L"planted");
    PSECURITY_DESCRIPTOR foreign = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;S-1-5-21-7-8-9-1002)", SDDL_REVISION_1,
                                                                     &foreign, nullptr));
    CLocalMemEx foreignMemory(foreign);
    PACL foreignDacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorDacl(foreign, &present, &foreignDacl, &defaulted);
    SetNamedSecurityInfoW(const_cast<LPWSTR>(target.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, foreignDacl, nullptr);

    const std::vector<BYTE> caller = SidOf(L"S-1-5-21-7-8-9-1001");
    const std::string document = "<configuration><appSettings/></configuration>";
    const struct
    {
        const char* what;
        DWORD answer;
        HRESULT expected;
        std::wstring content;
    } cases[] = {
        { "the descriptor cannot be set", ERROR_ACCESS_DENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), L"planted" },
        { "the descriptor is set", ERROR_SUCCESS, S_OK, L"<configuration><appSettings/></configuration>" },
    };
    CKelvoHeldFolder::SetSecurityCall(&RecordSecurity);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        g_answer = c.answer;
        g_asked.clear();
        CKelvoHeldFolder held;
        ASSERT_EQ(S_OK, held.Hold(folder.c_str(), target.c_str()));
        ASSERT_EQ(S_OK, held.CheckTarget(L"Agent.exe.config"));
        EXPECT_EQ(c.expected, held.Write(L"Agent.exe.config", std::vector<BYTE>(document.begin(), document.end()),
                                         const_cast<BYTE*>(caller.data())));
        EXPECT_EQ(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-21-7-8-9-1001)(A;;FR;;;BU)", g_asked);
        EXPECT_EQ(static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
                                                    | PROTECTED_DACL_SECURITY_INFORMATION),
                  g_parts);
        EXPECT_EQ(c.content, ReadFileText(target));
        EXPECT_EQ(std::set<std::wstring>{ L"Agent.exe.config" }, NamesIn(folder));
    }
    CKelvoHeldFolder::SetSecurityCall(nullptr);
    EXPECT_NE(std::wstring::npos, OwnLog().find(L"could not give '" + target + L"' its access (error 5)")) << OwnLog();
}

// What the service refuses to hold or write into, each with its reason: a folder that is a
// link, a name that is a folder, a second name of another file. A name not there yet is
// written.
TEST_F(HeldFolder, RefusesALinkedFolderAFolderOfTheFilesNameAndASecondNameAndSaysWhy)
{
    const std::wstring folder = m_folder + L"\\held";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\Folder.exe.config").c_str(), nullptr));
    WriteFileText(m_folder + L"\\victim.ini", L"[victim]");
    const bool haveHardLink =
        CreateHardLinkW((folder + L"\\Second.exe.config").c_str(), (m_folder + L"\\victim.ini").c_str(), nullptr) != FALSE;

    CKelvoHeldFolder held;
    ASSERT_EQ(S_OK, held.Hold(folder.c_str(), L"probe"));
    EXPECT_EQ(S_OK, held.CheckTarget(L"New.exe.config"));
    EXPECT_EQ(E_INVALIDARG, held.CheckTarget(L"Folder.exe.config"));
    EXPECT_NE(std::wstring::npos, OwnLog().find(L"refused the file '" + folder + L"\\Folder.exe.config': it is not a plain "
                                                L"file with one name directly in its folder (could not be examined: error 5"))
        << OwnLog();
    if (haveHardLink)
    {
        EXPECT_EQ(E_INVALIDARG, held.CheckTarget(L"Second.exe.config"));
        EXPECT_NE(std::wstring::npos, OwnLog().find(L"Second.exe.config': it is not a plain file with one name directly in "
                                                    L"its folder (could not be examined: error 0; plain 1; names 2)"))
            << OwnLog();
    }
    else
        std::printf("note: no hard link could be made here; the second-name case is left out\n");

    const std::wstring link = m_folder + L"\\linked";
    if (MakeFolderLink(link, folder))
    {
        CKelvoHeldFolder linked;
        EXPECT_EQ(E_INVALIDARG, linked.Hold(link.c_str(), L"through a link"));
        EXPECT_NE(std::wstring::npos, OwnLog().find(L"refused the path 'through a link': its folder '" + link +
                                                    L"' is not that folder itself"))
            << OwnLog();
    }
    else
        std::printf("note: no symbolic link could be made here; the linked-folder case is left out\n");
    EXPECT_EQ(L"[victim]", ReadFileText(m_folder + L"\\victim.ini"));
}
