#include "configeditor/CAgentSettingKeys.h"
#include "common/CResourceLoader.h"
#include "resources/KVIdsConfigEditorValues.h"
#include <map>

namespace
{
// The keys with a name of their own, in the order the key list shows them.
struct NamedKey
{
    DWORD code;
    UINT nameId;
};
constexpr NamedKey kNamedKeys[] = {
    { VK_BACK, IDS_KEY_BACKSPACE },    { VK_TAB, IDS_KEY_TAB },
    { VK_RETURN, IDS_KEY_ENTER },      { VK_ESCAPE, IDS_KEY_ESCAPE },
    { VK_PRIOR, IDS_KEY_PAGE_UP },     { VK_NEXT, IDS_KEY_PAGE_DOWN },
    { VK_END, IDS_KEY_END },           { VK_HOME, IDS_KEY_HOME },
    { VK_INSERT, IDS_KEY_INSERT },     { VK_DELETE, IDS_KEY_DELETE },
    { VK_OEM_1, IDS_KEY_SEMICOLON },   { VK_OEM_PLUS, IDS_KEY_PLUS },
    { VK_OEM_COMMA, IDS_KEY_COMMA },   { VK_OEM_MINUS, IDS_KEY_MINUS },
    { VK_OEM_PERIOD, IDS_KEY_PERIOD }, { VK_OEM_2, IDS_KEY_SLASH },
    { VK_OEM_3, IDS_KEY_BACKQUOTE },   { VK_OEM_4, IDS_KEY_OPEN_BRACKET },
    { VK_OEM_5, IDS_KEY_BACKSLASH },   { VK_OEM_6, IDS_KEY_CLOSE_BRACKET },
    { VK_OEM_7, IDS_KEY_QUOTE },
};

// Every text the key names need, loaded once for the process.
struct KeyTexts
{
    KeyTexts()
    {
        CResourceLoader& loader = CResourceLoader::Instance();
        alt = loader.LoadText(IDS_KEY_ALT);
        ctrl = loader.LoadText(IDS_KEY_CTRL);
        shift = loader.LoadText(IDS_KEY_SHIFT);
        none = loader.LoadText(IDS_KEY_NONE);
        function = loader.LoadText(IDS_KEY_FUNCTION);
        unknown = loader.LoadText(IDS_KEY_UNKNOWN);
        for (const NamedKey& key : kNamedKeys)
            named[key.code] = loader.LoadText(key.nameId);

        listCodes.push_back(0);
        for (DWORD code = VK_F1; code <= VK_F12; ++code)
            listCodes.push_back(code);
        for (DWORD code = 'A'; code <= 'Z'; ++code)
            listCodes.push_back(code);
        for (DWORD code = '0'; code <= '9'; ++code)
            listCodes.push_back(code);
        for (const NamedKey& key : kNamedKeys)
            listCodes.push_back(key.code);
    }

    CStringEx alt, ctrl, shift, none, function, unknown;
    std::map<DWORD, CStringEx> named;
    std::vector<DWORD> listCodes;
};

const KeyTexts& Texts()
{
    static const KeyTexts texts;
    return texts;
}
}

void CAgentSettingKeys::EnsureLoaded()
{
    Texts();
}

CStringEx CAgentSettingKeys::GetKeyName(DWORD code)
{
    const KeyTexts& texts = Texts();
    CStringEx name;
    if (code == 0)
        name = texts.none;
    else if (code >= 0x30 && code <= 0x5A)
        name.Format(L"%c", static_cast<wchar_t>(code));
    else if (code >= VK_F1 && code <= VK_F12)
        name.Format(texts.function, static_cast<int>(code - VK_F1 + 1));
    else if (auto found = texts.named.find(code); found != texts.named.end())
        name = found->second;
    else
        name = texts.unknown;
    return name;
}

CStringEx CAgentSettingKeys::GetDisplayName(DWORD value)
{
    const KeyTexts& texts = Texts();
    const DWORD code = value & kCodeMask;
    CStringEx name;
    // Modifiers mean nothing without a key, so "none" stands alone.
    if (code != 0)
    {
        if (value & kAlt)
            name += texts.alt;
        if (value & kCtrl)
            name += texts.ctrl;
        if (value & kShift)
            name += texts.shift;
    }
    name += GetKeyName(code);
    return name;
}

const std::vector<DWORD>& CAgentSettingKeys::GetListCodes()
{
    return Texts().listCodes;
}
