#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CUniqueAnyEx.h"
#include <sddl.h>
#include <set>
#include <vector>

namespace
{
struct ServiceHandleTraits { using Type = SC_HANDLE; static Type Invalid() { return nullptr; } static void Close(Type h) { CloseServiceHandle(h); } };
using CServiceHandle = CUniqueAnyEx<ServiceHandleTraits>;

const wchar_t kNoResourceText[] = L"A compatible resource file has not been found. Application is terminating.";

bool StartService()
{
    CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    CServiceHandle service(manager ? OpenServiceW(manager.Get(), kServiceName, SERVICE_START) : nullptr);
    return service && StartServiceW(service.Get(), 0, nullptr);
}
}

using Registration = ConfigSvcWorld;

TEST_F(Registration, WithoutTheResourceFileTheRegistrationWordsWorkInAnyCase)
{
    InstallCopy(false);

    // Registration and unregistration work without the texts, and without a box, however
    // the word is written.
    EXPECT_EQ(0u, RunCopy(L"/RegServer"));
    EXPECT_EQ(L"", Boxes());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, m_appIdKey));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, m_appIdKey, L"LocalService"));
    wchar_t server[MAX_PATH] = {};
    DWORD size = sizeof(server);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}\\LocalServer32",
                                          nullptr, RRF_RT_REG_SZ, nullptr, server, &size));
    EXPECT_EQ(m_program, std::wstring(server));

    // The service cannot be installed without its name, and a bare start has nothing to
    // serve with: both end with the loader's error (2) after the box that says why.
    for (const wchar_t* arguments : { L"/Service", L"" })
    {
        SCOPED_TRACE(testing::Message() << "arguments \"" << std::string(arguments, arguments + wcslen(arguments)) << "\"");
        DeleteFileW((m_folder + L"\\boxes.txt").c_str());
        EXPECT_EQ(2u, RunCopy(arguments));
        EXPECT_NE(std::wstring::npos, Boxes().find(kNoResourceText)) << Boxes().c_str();
    }
    EXPECT_EQ(0u, ServiceState());

    DeleteFileW((m_folder + L"\\boxes.txt").c_str());
    EXPECT_EQ(0u, RunCopy(L"/unregserver"));
    EXPECT_EQ(L"", Boxes());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_appIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}"));
}

// The uninstaller's "/UnregServer" (after it stopped the service) with a resource file that
// is missing or of another release still removes the service, which it knows by the name
// its registration recorded, and the classes.
TEST_F(Registration, TheUninstallersUnregServerWithoutTheResourceFileRemovesTheServiceAndTheClasses)
{
    InstallCopy();
    ASSERT_EQ(0u, RunCopy(L"/Service"));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
    ASSERT_TRUE(DeleteFileW((m_folder + L"\\KVResource.dll").c_str()));

    EXPECT_EQ(0u, RunCopy(L"/UnregServer"));
    EXPECT_EQ(L"", Boxes());
    EXPECT_EQ(0u, ServiceState());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_appIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KelvoConfigSvc.ServiceConfig"));
}

// Who may start the server and call it, as the AppID says: SYSTEM, Administrators and
// interactive users, each for local use only, and nobody else.
TEST_F(Registration, TheAppIdLetsOnlySystemAdministratorsAndInteractiveUsersStartAndCallItLocally)
{
    InstallCopy();
    for (const wchar_t* word : { L"/Service", L"/RegServer" })
    {
        SCOPED_TRACE(testing::Message() << std::string(word, word + wcslen(word)));
        ASSERT_EQ(0u, RunCopy(word));
        const struct
        {
            const wchar_t* value;
            DWORD rights;
        } kValues[] = {
            { L"LaunchPermission", COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_ACTIVATE_LOCAL },
            { L"AccessPermission", COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL },
        };
        for (const auto& expected : kValues)
        {
            SCOPED_TRACE(testing::Message() << std::string(expected.value, expected.value + wcslen(expected.value)));
            std::vector<BYTE> descriptor(4096);
            DWORD size = static_cast<DWORD>(descriptor.size());
            ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, m_appIdKey.c_str(), expected.value, RRF_RT_REG_BINARY,
                                                  nullptr, descriptor.data(), &size));
            ASSERT_TRUE(IsValidSecurityDescriptor(descriptor.data()));
            // COM needs an owner and a group.
            PSID owner = nullptr, group = nullptr;
            BOOL defaulted = FALSE;
            ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted));
            ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor.data(), &group, &defaulted));
            EXPECT_TRUE(owner && group);
            BOOL present = FALSE;
            PACL dacl = nullptr;
            ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
            ASSERT_TRUE(present && dacl);
            std::multiset<std::wstring> granted;
            for (DWORD i = 0; i < dacl->AceCount; ++i)
            {
                void* ace = nullptr;
                ASSERT_TRUE(GetAce(dacl, i, &ace));
                ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, static_cast<ACE_HEADER*>(ace)->AceType);
                const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
                // Local rights only: nothing from another computer.
                EXPECT_EQ(expected.rights, allowed->Mask);
                LPWSTR sid = nullptr;
                ASSERT_TRUE(ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid));
                granted.insert(sid);
                LocalFree(sid);
            }
            // SYSTEM, Administrators, Interactive.
            EXPECT_EQ((std::multiset<std::wstring>{ L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-4" }), granted);
        }
    }
}

TEST_F(Registration, ServiceTwiceStopsAndRecreatesTheRunningServiceWithoutABox)
{
    InstallCopy();
    ASSERT_EQ(0u, RunCopy(L"-service"));
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING));

    EXPECT_EQ(0u, RunCopy(L"-SERVICE"));
    EXPECT_EQ(L"", Boxes());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, m_appIdKey, L"LocalService"));

    // The recreated service starts again; /RegServer then takes the service away.
    EXPECT_TRUE(StartService());
    EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING));
    EXPECT_EQ(0u, RunCopy(L"/RegServer"));
    EXPECT_EQ(0u, ServiceState());
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, m_appIdKey, L"LocalService"));
    EXPECT_EQ(L"", Boxes());
}

TEST_F(Registration, AStartOutsideTheServiceManagerLogsWhyAndEndsWithOne)
{
    InstallCopy();
    ASSERT_EQ(0u, RunCopy(L"/RegServer"));
    EXPECT_EQ(1u, RunCopy(L""));
    EXPECT_TRUE(WaitForLog(L"runs only as a Windows service", 5000)) << ServiceLog();
    EXPECT_EQ(L"", Boxes());
}

// A service's session has nobody to answer a box: without its texts the service ends,
// and the manager sees it stopped, instead of a start that waits for a click. (Windows
// would wait for ever; Wine gives up on a service's box after about 10 s, so the bound
// below is what tells the two apart here. A start that ends at once takes about 1 s.)
TEST_F(Registration, AServiceStartWithoutTheResourceFileEndsInsteadOfWaitingForABox)
{
    InstallCopy();
    ASSERT_EQ(0u, RunCopy(L"/Service"));
    ASSERT_TRUE(DeleteFileW((m_folder + L"\\KVResource.dll").c_str()));
    const ULONGLONG start = GetTickCount64();
    StartService();
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED, 30000)) << "state " << ServiceState();
    EXPECT_LT(GetTickCount64() - start, 8000u);
}

TEST_F(Registration, PerUserRegistrationLivesInTheUsersClassesAndGoesWithoutATrace)
{
    InstallCopy();
    const std::wstring server = L"Software\\Classes\\CLSID\\{E386FD8A-4429-4429-8F51-D6AFDC69A12C}\\LocalServer32";
    ASSERT_EQ(0u, RunCopy(L"/RegServerPerUser"));
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof(path);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size));
    EXPECT_EQ(m_program, std::wstring(path));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, server));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}\\1.0"));

    // Wine registers a per-user type library for the machine; it goes all the same.
    EXPECT_EQ(0u, RunCopy(L"/UnregServerPerUser"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{E386FD8A-4429-4429-8F51-D6AFDC69A12C}"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\AppID\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}\\1.0"));
    EXPECT_EQ(L"", Boxes());
}
