#pragma once
#include "common/CComPtrEx.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

// One case's world for the configuration service: a folder of its own holding a copy of
// KelvoConfigSvc.exe (and of KVResource.dll unless left out), recorded as the product's
// install folder beside the program-data configuration folder (the two folders the service
// writes to), the directory stand-in registered with a directory in which this account is
// a local administrator, and the service's own configuration under the program-data
// folder. This process logs what its in-process objects do to a log of its own. Whatever
// the case did, the service is stopped, unregistered and deleted at the end, and the
// folders' record is removed; every wait is bounded.
class ConfigSvcWorld : public ::testing::Test
{
public:
    static std::wstring ReadFileText(const std::wstring& path);
    // Makes link a symbolic link to the folder target; false when this system cannot (the
    // caller then leaves the case out). Wine's CreateSymbolicLinkW makes nothing, but a
    // Unix link made by ln shows as a reparse point.
    static bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
    // Removes such a link, never its target.
    static void RemoveFolderLink(const std::wstring& link);
    // Renames a folder as a program outside Wine does, which no open handle can prevent;
    // false when it could not (or this is not Wine).
    static bool RenameFromOutside(const std::wstring& from, const std::wstring& to);
    static void WriteFileText(const std::wstring& path, const std::wstring& text);
    static bool KeyExists(HKEY root, const std::wstring& path);
    static bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name);

protected:
    void SetUp() override;
    void TearDown() override;

    // Copies the program into the case's folder, with or without the resource library.
    void InstallCopy(bool withResources = true);
    // Runs the copy with the arguments (as its command line after the path) and returns
    // its exit code; -1 when it did not end within the time.
    DWORD RunCopy(const std::wstring& arguments, DWORD timeoutMs = 60000);
    // The message boxes the copy would have shown, as "caption<TAB>text" lines.
    std::wstring Boxes() const;

    // Writes the directory: this account (unless left out), kiosk and mallory are local
    // users; this account and kiosk are local administrators. Every open and search of it
    // waits delayMs.
    void WriteDirectory(bool thisAccountIsAdministrator = true, DWORD delayMs = 0);
    // Writes the service's own configuration file with these logging settings.
    void WriteServiceConfig(int logLevel);
    // The service's own configuration file (in the program-data configuration folder).
    static std::wstring ServiceConfigPath();
    // Records the product's folders as the installer does (an empty text: no value).
    static void RecordProductFolders(const std::wstring& configFolder, const std::wstring& installFolder);
    // The configuration folder under program data (no trailing backslash).
    static std::wstring ConfigFolder();
    // The service's log of today, as text; empty when there is none.
    static std::wstring ServiceLog();
    // Waits (bounded) until the service's log holds the text in a line written since the
    // case began.
    bool WaitForLog(const std::wstring& text, DWORD timeoutMs = 15000) const;
    // From now on WaitForLog looks only at lines written after this moment.
    void MarkLog();
    // This process's own log (in-process objects), from the case's start.
    std::wstring OwnLog() const;
    // This account's SID as text ("S-1-5-...").
    static std::wstring OwnSidText();

    // The service's state (0 when it is not installed).
    static DWORD ServiceState();
    static bool WaitForServiceState(DWORD state, DWORD timeoutMs = 30000);
    // Removes the service whatever its state: stop, kill when it does not stop, delete.
    static void ForceRemoveService();


    std::wstring m_folder;  // the case's folder (no trailing backslash)
    std::wstring m_program; // the copy of KelvoConfigSvc.exe
    std::wstring m_user;    // this account's name and this computer's name
    std::wstring m_computer;
    std::wstring m_appIdKey;

private:
    std::wstring m_boxLog;
    size_t m_logStart = 0;
    size_t m_ownLogStart = 0;
    std::wstring m_directoryData;
    std::wstring m_serviceConfig;
    bool m_comReady = false;
};

inline const wchar_t kServiceName[] = L"KelvoConfigSvc";
