#include "common/com/CComRegistrarEx.h"
#include "common/CComPtrEx.h"
#include "common/CUniqueAnyEx.h"
#include <oleauto.h>
#include <cwctype>

struct CComRegistrarEx::Node
{
    enum class Kind { Root, Key, Value };
    Kind kind = Kind::Key;
    bool noRemove = false;
    bool forceRemove = false;
    bool deleteKey = false;
    std::wstring name;
    bool hasValue = false;
    wchar_t valueType = L's';
    std::wstring value;
    std::vector<std::unique_ptr<Node>> children;
};

namespace
{
// One token of a script: a quoted text, a word, or one of { } =.
struct Token
{
    enum class Kind { Word, Quoted, Open, Close, Equals, End };
    Kind kind = Kind::End;
    std::wstring text;
};

class CScriptLexer
{
public:
    CScriptLexer(const std::wstring& text, const std::map<std::wstring, std::wstring>& replacements)
        : m_text(text), m_replacements(replacements) {}

    bool Next(Token& token)
    {
        while (m_pos < m_text.size() && iswspace(m_text[m_pos]))
            ++m_pos;
        token.text.clear();
        if (m_pos >= m_text.size())
        {
            token.kind = Token::Kind::End;
            return true;
        }
        const wchar_t c = m_text[m_pos];
        // A brace followed by more than white space starts a name ({GUID} keys).
        const bool braceAlone = m_pos + 1 >= m_text.size() || iswspace(m_text[m_pos + 1]);
        if ((c == L'{' && braceAlone) || c == L'}' || c == L'=')
        {
            token.kind = c == L'{' ? Token::Kind::Open : c == L'}' ? Token::Kind::Close : Token::Kind::Equals;
            ++m_pos;
            return true;
        }
        std::wstring raw;
        if (c == L'\'')
        {
            // A quoted text; '' stands for one quote.
            token.kind = Token::Kind::Quoted;
            for (++m_pos;; ++m_pos)
            {
                if (m_pos >= m_text.size())
                    return false;
                if (m_text[m_pos] == L'\'')
                {
                    if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == L'\'')
                    {
                        raw += L'\'';
                        ++m_pos;
                        continue;
                    }
                    ++m_pos;
                    break;
                }
                raw += m_text[m_pos];
            }
        }
        else
        {
            token.kind = Token::Kind::Word;
            while (m_pos < m_text.size() && !iswspace(m_text[m_pos]) && m_text[m_pos] != L'=' && m_text[m_pos] != L'\'')
                raw += m_text[m_pos++];
        }
        return Replace(raw, token.text);
    }

private:
    // Replacements apply inside a token, after quoting, so a value can never reshape
    // the script around it.
    bool Replace(const std::wstring& raw, std::wstring& out) const
    {
        for (size_t i = 0; i < raw.size(); ++i)
        {
            if (raw[i] != L'%')
            {
                out += raw[i];
                continue;
            }
            const size_t end = raw.find(L'%', i + 1);
            if (end == std::wstring::npos)
                return false;
            const std::wstring name = raw.substr(i + 1, end - i - 1);
            if (name.empty())
                out += L'%';
            else
            {
                const auto found = m_replacements.find(name);
                if (found == m_replacements.end())
                    return false;
                out += found->second;
            }
            i = end;
        }
        return true;
    }

    const std::wstring& m_text;
    const std::map<std::wstring, std::wstring>& m_replacements;
    size_t m_pos = 0;
};

class CScriptParser
{
public:
    explicit CScriptParser(CScriptLexer& lexer) : m_lexer(lexer) {}

    bool ParseRoots(std::vector<std::unique_ptr<CComRegistrarEx::Node>>& roots)
    {
        if (!Advance())
            return false;
        while (m_token.kind != Token::Kind::End)
        {
            if (m_token.kind != Token::Kind::Word)
                return false;
            auto root = std::make_unique<CComRegistrarEx::Node>();
            root->kind = CComRegistrarEx::Node::Kind::Root;
            root->name = m_token.text;
            if (!Advance() || m_token.kind != Token::Kind::Open || !ParseBlock(*root))
                return false;
            roots.push_back(std::move(root));
        }
        return true;
    }

private:
    bool Advance() { return m_lexer.Next(m_token); }
    bool IsName() const { return m_token.kind == Token::Kind::Word || m_token.kind == Token::Kind::Quoted; }
    static bool IsWord(const Token& token, LPCWSTR word)
    {
        return token.kind == Token::Kind::Word && _wcsicmp(token.text.c_str(), word) == 0;
    }

    // After "{": entries up to the matching "}", which is consumed.
    bool ParseBlock(CComRegistrarEx::Node& parent)
    {
        if (!Advance())
            return false;
        while (m_token.kind != Token::Kind::Close)
        {
            if (m_token.kind == Token::Kind::End)
                return false;
            auto node = std::make_unique<CComRegistrarEx::Node>();
            if (IsWord(m_token, L"val"))
            {
                node->kind = CComRegistrarEx::Node::Kind::Value;
                if (!Advance() || !IsName())
                    return false;
                node->name = m_token.text;
                if (!Advance() || m_token.kind != Token::Kind::Equals || !ParseValue(*node))
                    return false;
                parent.children.push_back(std::move(node));
                continue;
            }
            for (;;)
            {
                if (IsWord(m_token, L"NoRemove"))
                    node->noRemove = true;
                else if (IsWord(m_token, L"ForceRemove"))
                    node->forceRemove = true;
                else if (IsWord(m_token, L"Delete"))
                    node->deleteKey = true;
                else
                    break;
                if (!Advance())
                    return false;
            }
            if (!IsName())
                return false;
            node->name = m_token.text;
            if (!Advance())
                return false;
            if (m_token.kind == Token::Kind::Equals && !ParseValue(*node))
                return false;
            if (m_token.kind == Token::Kind::Open && !ParseBlock(*node))
                return false;
            parent.children.push_back(std::move(node));
        }
        return Advance();
    }

    // After "=": a type letter and the value; leaves the next token current.
    bool ParseValue(CComRegistrarEx::Node& node)
    {
        if (!Advance() || m_token.kind != Token::Kind::Word || m_token.text.size() != 1)
            return false;
        node.valueType = static_cast<wchar_t>(towlower(m_token.text[0]));
        if (node.valueType != L's' && node.valueType != L'e' && node.valueType != L'd')
            return false;
        if (!Advance() || !IsName())
            return false;
        node.hasValue = true;
        node.value = m_token.text;
        return Advance();
    }

    CScriptLexer& m_lexer;
    Token m_token;
};

LONG SetValue(HKEY key, LPCWSTR name, const CComRegistrarEx::Node& node)
{
    if (node.valueType == L'd')
    {
        const DWORD number = wcstoul(node.value.c_str(), nullptr, 0);
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    }
    const DWORD type = node.valueType == L'e' ? REG_EXPAND_SZ : REG_SZ;
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(node.value.c_str()),
                          static_cast<DWORD>((node.value.size() + 1) * sizeof(wchar_t)));
}

bool IsMissing(LONG error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

LONG DeleteKeyTree(HKEY parent, LPCWSTR name)
{
    LONG error = RegDeleteTreeW(parent, name);
    if (error == ERROR_SUCCESS || IsMissing(error))
    {
        const LONG last = RegDeleteKeyW(parent, name);
        if (!IsMissing(last))
            error = last;
        else if (IsMissing(error))
            error = ERROR_SUCCESS;
    }
    return IsMissing(error) ? ERROR_SUCCESS : error;
}

using RegisterForUserFn = HRESULT(WINAPI*)(ITypeLib*, LPOLESTR, LPOLESTR);
using UnregisterForUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

FARPROC OleAutProc(LPCSTR name)
{
    HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    return oleaut ? GetProcAddress(oleaut, name) : nullptr;
}
}

CComRegistrarEx::CComRegistrarEx(bool perUser) : m_perUser(perUser) {}
CComRegistrarEx::~CComRegistrarEx() = default;

void CComRegistrarEx::AddReplacement(LPCWSTR name, LPCWSTR value)
{
    m_replacements[name ? name : L""] = value ? value : L"";
}

void CComRegistrarEx::AddModuleReplacements(LPCWSTR modulePath)
{
    const std::wstring raw = modulePath ? modulePath : L"";
    AddReplacement(L"MODULE_RAW", raw.c_str());
    AddReplacement(L"MODULE", raw.find(L' ') != std::wstring::npos ? (L"\"" + raw + L"\"").c_str() : raw.c_str());
}

HRESULT CComRegistrarEx::UpdateFromResource(HMODULE module, UINT id, bool registering)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    const int size = static_cast<int>(SizeofResource(module, resource));
    // Scripts are stored as 8-bit text (ASCII; UTF-8 accepted).
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes, size, nullptr, 0);
    CStringEx script;
    if (length > 0)
    {
        MultiByteToWideChar(CP_UTF8, 0, bytes, size, script.GetBuffer(length), length);
        script.ReleaseBuffer(length);
    }
    return UpdateFromScript(script, registering);
}

HRESULT CComRegistrarEx::UpdateFromScript(LPCWSTR script, bool registering)
{
    std::vector<std::unique_ptr<Node>> roots;
    if (!Parse(script ? script : L"", roots))
        return E_INVALIDARG;
    return Apply(roots, registering);
}

bool CComRegistrarEx::Parse(const CStringEx& script, std::vector<std::unique_ptr<Node>>& roots)
{
    // Resource text may end in NULs.
    std::wstring text = script.Str();
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos)
        text.resize(nul);
    CScriptLexer lexer(text, m_replacements);
    CScriptParser parser(lexer);
    return parser.ParseRoots(roots);
}

HKEY CComRegistrarEx::OpenClassesRoot(REGSAM access, LONG* error) const
{
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExW(m_perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                                        nullptr, 0, access, nullptr, &key, nullptr);
    if (error)
        *error = result;
    return result == ERROR_SUCCESS ? key : nullptr;
}

HRESULT CComRegistrarEx::Apply(const std::vector<std::unique_ptr<Node>>& roots, bool registering)
{
    for (const auto& root : roots)
    {
        CRegKeyEx rootKey;
        LONG error = ERROR_SUCCESS;
        const std::wstring& name = root->name;
        if (_wcsicmp(name.c_str(), L"HKCR") == 0 || _wcsicmp(name.c_str(), L"HKEY_CLASSES_ROOT") == 0)
            rootKey.Reset(OpenClassesRoot(KEY_READ | KEY_WRITE, &error));
        else if (_wcsicmp(name.c_str(), L"HKCU") == 0 || _wcsicmp(name.c_str(), L"HKEY_CURRENT_USER") == 0)
            error = RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ | KEY_WRITE, rootKey.Put());
        else if (_wcsicmp(name.c_str(), L"HKLM") == 0 || _wcsicmp(name.c_str(), L"HKEY_LOCAL_MACHINE") == 0)
            error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ | KEY_WRITE, rootKey.Put());
        else
            return E_INVALIDARG;
        if (error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(error);
        for (const auto& child : root->children)
        {
            error = registering ? RegisterNode(rootKey.Get(), *child) : UnregisterNode(rootKey.Get(), *child);
            if (error != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(error);
        }
    }
    return S_OK;
}

LONG CComRegistrarEx::RegisterNode(HKEY parent, const Node& node)
{
    if (node.kind == Node::Kind::Value)
        return SetValue(parent, node.name.c_str(), node);
    if (node.forceRemove || node.deleteKey)
    {
        const LONG error = DeleteKeyTree(parent, node.name.c_str());
        if (error != ERROR_SUCCESS)
            return error;
        if (node.deleteKey)
            return ERROR_SUCCESS;
    }
    CRegKeyEx key;
    LONG error = RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    if (node.hasValue && (error = SetValue(key.Get(), nullptr, node)) != ERROR_SUCCESS)
        return error;
    for (const auto& child : node.children)
    {
        if ((error = RegisterNode(key.Get(), *child)) != ERROR_SUCCESS)
            return error;
    }
    return ERROR_SUCCESS;
}

LONG CComRegistrarEx::UnregisterNode(HKEY parent, const Node& node)
{
    if (node.kind == Node::Kind::Value)
    {
        const LONG error = RegDeleteValueW(parent, node.name.c_str());
        return IsMissing(error) ? ERROR_SUCCESS : error;
    }
    if (!node.noRemove)
        return DeleteKeyTree(parent, node.name.c_str());
    // A key that stays: only what the script put into it goes.
    CRegKeyEx key;
    LONG error = RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
    if (IsMissing(error))
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    for (const auto& child : node.children)
    {
        if ((error = UnregisterNode(key.Get(), *child)) != ERROR_SUCCESS)
            return error;
    }
    return ERROR_SUCCESS;
}

HRESULT CComRegistrarEx::RegisterTypeLibrary(LPCWSTR modulePath)
{
    CComPtrEx<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.Put());
    if (FAILED(hr))
        return hr;
    CBstrEx path(modulePath);
    if (m_perUser)
    {
        auto forUser = reinterpret_cast<RegisterForUserFn>(reinterpret_cast<void*>(OleAutProc("RegisterTypeLibForUser")));
        if (forUser)
            return forUser(library.Get(), path.Get(), nullptr);
    }
    return RegisterTypeLib(library.Get(), path.Get(), nullptr);
}

HRESULT CComRegistrarEx::UnregisterTypeLibrary(LPCWSTR modulePath)
{
    CComPtrEx<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.Put());
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    if (FAILED(hr = library->GetLibAttr(&attributes)))
        return hr;
    const TLIBATTR attr = *attributes;
    library->ReleaseTLibAttr(attributes);

    // Nothing registered is nothing to remove. The merged classes view is asked, since a
    // per-user registration may have gone to the machine's classes (Wine's does).
    wchar_t guid[40] = {};
    StringFromGUID2(attr.guid, guid, ARRAYSIZE(guid));
    CStringEx keyName;
    keyName.Format(L"TypeLib\\%s\\%d.%d", guid, attr.wMajorVerNum, attr.wMinorVerNum);
    CRegKeyEx existing;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, existing.Put()) != ERROR_SUCCESS)
        return S_OK;
    existing.Reset();

    if (m_perUser)
    {
        auto forUser = reinterpret_cast<UnregisterForUserFn>(reinterpret_cast<void*>(OleAutProc("UnRegisterTypeLibForUser")));
        if (forUser)
        {
            hr = forUser(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
            // A library registered for the machine alone is not this user's to remove.
            CRegKeyEx classes(OpenClassesRoot(KEY_READ, nullptr));
            if (FAILED(hr) && (!classes || RegOpenKeyExW(classes.Get(), keyName, 0, KEY_READ, existing.Put()) != ERROR_SUCCESS))
                hr = S_OK;
            return hr;
        }
    }
    return UnRegisterTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
}
