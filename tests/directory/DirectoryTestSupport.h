#pragma once
#include "common/CADQuery.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The directory most cases use (domain HQ / hq.example.com, this computer's local groups):
//   Staff: alice              Operators: bob          Outer > Middle > Inner: carol
//   CycleA <-> CycleB (CycleB also holds frank)       Domain Admins: dave
//   Star Group: the user literally named "*"          Ops (HQ): eve
//   Backslashers: the user named back\slash
//   local Administrators: kiosk, HQ\Domain Admins, Helpers > HelperTeam: helper
//   local Cart Users: kiosk, HQ\alice                 local LoopA <-> LoopB
//   local Ward Desk: HQ\alice, named like the domain user Ward Desk
extern const wchar_t kStandardDirectory[];

// Per-case world: COM, the resource library, the registered stand-in provider, a data
// file in a temporary folder of its own, and (unless turned off) a computer joined to
// the domain hq.example.com.
class DirectoryTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the data file the stand-in serves from now on.
    void UseDirectory(const std::wstring& text);
    // Answers the join question as a workgroup computer would (the next CADQuery sees it).
    static void UseWorkgroup();
    // Answers only the DNS domain name, so the NetBIOS name comes from the platform.
    static void UseDnsNameOnlyJoin();
    // Opens and searches the stand-in has served so far.
    LONG DirectoryCalls() const;
    // An export of the stand-in DLL, such as KelvoAdsiSimLastError.
    FARPROC StandInExport(const char* name) const { return GetProcAddress(m_standIn, name); }

    std::wstring m_folder;
    std::wstring m_computer;
    std::wstring m_root = L"LDAP://DC=hq,DC=example,DC=com";

private:
    HMODULE m_standIn = nullptr;
    std::vector<std::wstring> m_files;
    bool m_comReady = false;
};

// A message-only window that collects the trace texts posted to it and frees each BSTR.
class TraceCollector
{
public:
    TraceCollector();
    ~TraceCollector();
    HWND Window() const { return m_window; }
    // Delivers every trace message posted so far.
    void Pump();
    // The texts received, in order, with their wParam levels.
    std::vector<std::wstring> texts;
    std::vector<WPARAM> levels;
    bool Contains(const std::wstring& part) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
};
