#pragma once
// The texts of one KVResource.dll, opened as data: the agent's window title (568), its stop
// switch (205) and its log folder names come from the library the scenario's agent loads,
// never from copies written into the tests.
#include "common/CStringEx.h"
#include "common/CUniqueAnyEx.h"

class CScenarioResources
{
public:
    // 0 or the Windows error of loading the library.
    DWORD Open(LPCWSTR libraryPath);
    // FALSE when the library has no such string (or is not open).
    BOOL LoadText(UINT id, CStringEx& text) const;
    const CStringEx& GetPath() const { return m_path; }

private:
    CModuleEx m_module;
    CStringEx m_path;
};
