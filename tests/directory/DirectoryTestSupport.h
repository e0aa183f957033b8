#pragma once
#include "common/CADQuery.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The directory most cases use (domain HQ / hq.example.com, this computer's local groups),
// the stand-in's data file made from sim/adsi/StandardDirectory.seed, whose test
// domain (scripts/test-domain.sh) holds the same domain accounts.
std::wstring StandardDirectory();

// Where a case's domain accounts live: the stand-in's data file, or the test domain.
enum class Where
{
    StandIn,
    TestDomain
};

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
    // LDAP paths go to the test domain from now on; the computer's own accounts still come
    // from the stand-in's data file.
    void UseTestDomain();
    void Use(Where where)
    {
        if (where == Where::TestDomain)
            UseTestDomain();
    }
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
