#pragma once
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"
#include <map>

class CConfigurationEx;
class CAppConfigSetting;

// The application entries of the editor's own file, by index from 0 in document order.
using CAppConfigSettingMap = std::map<int, _CObjectExPtr<CAppConfigSetting>>;

// One application whose configuration file the editor can edit: the name its file is found
// by, who is told after a save, and the element of the editor's own file that holds its
// setting definitions.
class CAppConfigSetting : public CObjectEx
{
public:
    // Who is told of a saved change.
    enum Kind : LONG
    {
        KindNobody = 0,
        KindDesktopProgram = 1, // a window message to the program's dialog windows
        KindService = 2,        // the service's "%s.ServiceConfig" object
    };

    CAppConfigSetting(int index, LPCWSTR name, LONG kind, LPCWSTR section);
    ~CAppConfigSetting() override;

    // Reads every application entry of the editor's own configuration into apps (cleared
    // first). E_FAIL when the entries cannot be selected; S_FALSE when the configuration is
    // not loaded.
    static HRESULT ReadAll(CConfigurationEx& own, CAppConfigSettingMap& apps);
    // The index of the entry whose name equals name without regard to case, or -1.
    static int Find(const CAppConfigSettingMap& apps, LPCWSTR name);

    int GetIndex() const noexcept { return m_index; }
    // The name the target file is found by (Load), and the process image name to notify.
    const CStringEx& GetName() const noexcept { return m_name; }
    LONG GetKind() const noexcept { return m_kind; }
    // The element of the editor's own file that holds this application's definitions.
    const CStringEx& GetSection() const noexcept { return m_section; }

private:
    int m_index;
    CStringEx m_name;
    LONG m_kind;
    CStringEx m_section;
};
