#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CUniqueAnyEx.h"

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

TEST_F(Registration, WithoutTheResourceFileOnlyTheExactLowercaseRegistrationWordsWork)
{
    InstallCopy(false);

    // The installer's words register and unregister without the texts, and without a box.
    EXPECT_EQ(0u, RunCopy(L"/regserver"));
    EXPECT_EQ(L"", Boxes());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, m_appIdKey));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, m_appIdKey, L"LocalService"));
    wchar_t server[MAX_PATH] = {};
    DWORD size = sizeof(server);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}\\LocalServer32",
                                          nullptr, RRF_RT_REG_SZ, nullptr, server, &size));
    EXPECT_EQ(m_program, std::wstring(server));

    // The same word in capitals passes the parser but not the test before it: the program
    // ends with the loader's error (2) after the box that says why; so does a bare start.
    for (const wchar_t* arguments : { L"/RegServer", L"" })
    {
        SCOPED_TRACE(testing::Message() << "arguments \"" << std::string(arguments, arguments + wcslen(arguments)) << "\"");
        DeleteFileW((m_folder + L"\\boxes.txt").c_str());
        EXPECT_EQ(2u, RunCopy(arguments));
        EXPECT_NE(std::wstring::npos, Boxes().find(kNoResourceText)) << Boxes().c_str();
    }

    DeleteFileW((m_folder + L"\\boxes.txt").c_str());
    EXPECT_EQ(0u, RunCopy(L"/unregserver"));
    EXPECT_EQ(L"", Boxes());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_appIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}"));
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
