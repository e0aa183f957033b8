#pragma once
#include "common/CStringEx.h"
#include "common/com/CComModuleEx.h"
#include "common/com/TClassFactoryEx.h"
#include "configsvc/CAgentConfig.h"
#include "configsvc/CKelvoServiceLoop.h"
#include "configsvc/CServiceConfig.h"
#include <atomic>

// The configuration service's process: registration and service installation from the
// command line, the service's life under the Service Control Manager, the class objects
// of AgentConfig and ServiceConfig, the message loop that serves them, and the service's
// own logging settings. Everything that talks to the Service Control Manager is here;
// the COM objects know nothing of services.
class CKelvoConfigSvcModule : public CComModuleEx
{
public:
    static constexpr UINT WM_CONFIG_CHANGED = CServiceConfig::WM_CONFIG_CHANGED;
    // Registry scripts of the server's AppID and its two classes.
    static constexpr UINT kAppIdScript = 101;

    CKelvoConfigSvcModule();
    ~CKelvoConfigSvcModule() override;

    static CKelvoConfigSvcModule& Instance();

    // The program: argumentText is the command line without the program's path. Returns
    // the process exit code.
    int WinMain(LPCWSTR argumentText);

private:
    // The words of the command line, as the first match names one.
    enum class Word
    {
        None,
        UnregServer,
        RegServer,
        UnregServerPerUser,
        RegServerPerUser,
        Service,
    };
    static Word FindWord(LPCWSTR commandLine);

    // Loads the satellite resource library; false (with the exit code) when the program
    // must end.
    bool LoadResourcesAtStart(LPCWSTR argumentText, int& exitCode);
    bool LoadResourcesLate(int& exitCode);
    void TakeResourceLibrary();
    // The command line's registration word, acted on; false when it holds none.
    bool ParseCommandLine(LPCWSTR commandLine, HRESULT& result);

    HRESULT RegisterServer(bool perUser, bool service);
    HRESULT UnregisterServer(bool perUser);
    HRESULT RegisterAppId(bool perUser, bool service);
    HRESULT UnregisterAppId(bool perUser);
    HRESULT UpdateClasses(bool perUser, bool registering);
    HRESULT WritePermissions(HKEY appId);
    // The service the AppID names (its LocalService value), or empty.
    CStringEx ReadLocalService(bool perUser);
    bool IsInstalled();
    bool Install();
    bool Uninstall();

    DWORD Start();
    static void WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI HandlerEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    void ServiceMain();
    void OnControl(DWORD control);
    HRESULT Run();
    HRESULT RegisterClassObjects();
    void RevokeClassObjects();
    bool OnLoopMessage(const MSG& message);
    void SetUpLogging();
    void ReportStatus(DWORD state);

    // Events of the host: the logger's event-log writer, also printed to standard output
    // when the program does not run as a service.
    void LogEvent(WORD type, LPCWSTR text);
    // A message box of this program, or what stands for it where nobody could answer.
    void ShowBox(LPCWSTR text, LPCWSTR caption);
    void ShowRegistrationBox(UINT id, LPCWSTR englishText);
    bool IsInteractive();
    // Whether the AppID names a service (then a start without a registration word is a
    // start by the Service Control Manager).
    bool IsRegisteredAsService();

    CStringEx m_modulePath;
    CStringEx m_serviceName;
    bool m_resourcesLoaded = false;
    bool m_service = true;
    bool m_comInitialized = false;
    SERVICE_STATUS_HANDLE m_statusHandle = nullptr;
    SERVICE_STATUS m_status = {};
    std::atomic<LONG> m_state{ SERVICE_STOPPED };
    DWORD m_serviceThreadId = 0;
    CKelvoServiceLoop m_loop;
    DWORD m_agentCookie = 0;
    DWORD m_serviceCookie = 0;
    TClassFactoryEx<CAgentConfig> m_agentFactory;
    TClassFactoryEx<CServiceConfig> m_serviceFactory;
};
