#pragma once
#include "common/CStringEx.h"
#include <windows.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Applies registry scripts (resources of type "REGISTRY") in the registrar's language:
//     HKCR
//     {
//         NoRemove CLSID
//         {
//             ForceRemove {clsid} = s 'Name'
//             {
//                 LocalServer32 = s '%MODULE%'
//                 val AppID = s '%APPID%'
//             }
//         }
//     }
// A key may carry a default value (= s 'text', = e 'text', = d 'number'); "val name = ..."
// sets a named value. Registering creates what the script names; ForceRemove keys are
// deleted with everything below them first. Unregistering deletes every key the script
// names with everything below it, except NoRemove keys, of which only the listed values
// and subkeys go. %NAME% is replaced by the replacement of that name, %% by %.
// HKCR stands for the machine's classes, or the current user's for a per-user registrar.
class CComRegistrarEx
{
public:
    explicit CComRegistrarEx(bool perUser = false);
    ~CComRegistrarEx();
    CComRegistrarEx(const CComRegistrarEx&) = delete;
    CComRegistrarEx& operator=(const CComRegistrarEx&) = delete;

    void AddReplacement(LPCWSTR name, LPCWSTR value);
    // Applies REGISTRY resource id of module.
    HRESULT UpdateFromResource(HMODULE module, UINT id, bool registering);
    // Applies a script given as text; E_INVALIDARG (nothing changed) for a script that does
    // not parse.
    HRESULT UpdateFromScript(LPCWSTR script, bool registering);

    // The classes key HKCR means for this registrar (HKLM or HKCU \Software\Classes),
    // opened with the given access; null with the error in *error on failure.
    HKEY OpenClassesRoot(REGSAM access, LONG* error) const;

    // Registers or unregisters the type library of the module file (resource TYPELIB 1),
    // per user when the registrar is. Unregistering a library that is not registered succeeds.
    HRESULT RegisterTypeLibrary(LPCWSTR modulePath);
    HRESULT UnregisterTypeLibrary(LPCWSTR modulePath);

    // The module replacements of a program at modulePath: MODULE (quoted when the path
    // holds a space, as a command line needs it) and MODULE_RAW.
    void AddModuleReplacements(LPCWSTR modulePath);

    struct Node;

private:
    HRESULT Apply(const std::vector<std::unique_ptr<Node>>& roots, bool registering);
    LONG RegisterNode(HKEY parent, const Node& node);
    LONG UnregisterNode(HKEY parent, const Node& node);
    bool Parse(const CStringEx& script, std::vector<std::unique_ptr<Node>>& roots);

    bool m_perUser;
    std::map<std::wstring, std::wstring> m_replacements;
};
