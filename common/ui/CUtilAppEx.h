#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// CUtilAppEx: the base of each program's application object (one per process). Run calls
// the program's InitInstance, which does the whole life of a dialog program and answers
// FALSE; then ExitInstance gives the exit code. There is no framework message loop: each
// dialog runs its own.
//
// InitResources is the start every program shares: it finds the program's directory and
// name, loads the satellite resource library and makes it the source of dialog templates;
// without a usable library it shows the program's own text (string 101, or 104 for an
// older library) titled with the program's name and answers FALSE.
class CUtilAppEx
{
public:
    CUtilAppEx();
    virtual ~CUtilAppEx();
    CUtilAppEx(const CUtilAppEx&) = delete;
    CUtilAppEx& operator=(const CUtilAppEx&) = delete;

    int Run();

    // Process-wide values: the program's file name without directory and extension (names
    // its configuration file and log), its directory, and the application title (caption
    // of its windows and message boxes; the name until the program sets one).
    static const CStringEx& GetAppName();
    static const CStringEx& GetAppDirectory();
    static const CStringEx& GetAppTitle();
    static void SetAppTitle(LPCWSTR title);

protected:
    virtual BOOL InitInstance() = 0;
    virtual int ExitInstance();

    BOOL InitResources();
    // A text of the program's own string table (the start-up messages 101 to 104).
    static CStringEx LoadProgramString(UINT id);

    int m_exitCode = 0;
};
