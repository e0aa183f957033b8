#include "common/CConfiguration.h"
#include "common/CConfigValueEnum.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "common/CXMLDOMDocumentEx.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"
#include "resources/KVIdsConfig.h"
#include "resources/KVIdsLogging.h"
#include <cwchar>
#include <new>
#include <shlobj.h>

namespace
{
bool FileExists(const CStringEx& path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

CConfiguration::KnownFolderFn g_knownFolderPath = &SHGetKnownFolderPath;
}

void CConfiguration::SetKnownFolderPath(KnownFolderFn knownFolderPath)
{
    g_knownFolderPath = knownFolderPath ? knownFolderPath : &SHGetKnownFolderPath;
}

CConfiguration::CConfiguration()
{
    // A name that cannot be loaded becomes the loader's failure text (logged there), so
    // that queries built from it simply find nothing.
    CResourceLoader& resources = CResourceLoader::Instance();
    resources.LoadString(IDS_CFG_ENTRY_ELEMENT, m_entryName);
    resources.LoadString(IDS_CFG_KEY_ATTRIBUTE, m_keyAttributeName);
    resources.LoadString(IDS_CFG_VALUE_ELEMENT, m_valueName);
    resources.LoadString(IDS_CFG_RANGE_LOW_ELEMENT, m_lowName);
    resources.LoadString(IDS_CFG_RANGE_HIGH_ELEMENT, m_highName);
}

CConfiguration::~CConfiguration() = default;

BOOL CConfiguration::Load(LPCWSTR name)
{
    m_path.Empty();
    m_loaded = 0;
    InvalidateIndex();
    CStringEx path;
    try
    {
        FindFile(name, path);
        LoadDocument(path);
        m_triedPath = path;
        return TRUE;
    }
    catch (...)
    {
        // Every reason has been logged where it happened; this line names the file.
    }
    m_triedPath = path;
    m_root = nullptr;
    m_document = nullptr;
    CStringEx message;
    CResourceLoader::Instance().FormatString(message, IDS_CFG_LOAD_FAILED, path.GetString());
    CUtilLogging::Instance().Log(2, L"%s\n", message.GetString());
    return FALSE;
}

void CConfiguration::LoadDocument(LPCWSTR path)
{
    m_loaded = 0;
    m_path.Empty();
    InvalidateIndex();
    if (!m_document)
        m_document = MakeObjectEx<CXMLDOMDocumentEx>();
    ThrowIfFailed(m_document->Load(path));
    m_root = m_document->GetRoot();
    if (!m_root)
        throw CErrorEx(static_cast<DWORD>(E_OUTOFMEMORY));
    m_path = path;
    m_loaded = 1;
}

// Puts the path of the file to load into path: the shared program-data copy when there is
// one, otherwise the one beside the program. Throws 2 when neither exists, 87 when a folder
// name cannot be loaded, and the failure when the program-data folder cannot be resolved.
void CConfiguration::FindFile(LPCWSTR name, CStringEx& path)
{
    CStringEx folder, programFile;
    ThrowLastErrorIf(!CResourceLoader::GetModulePath(folder, programFile, TRUE));

    const bool ownFile = name == nullptr;
    const CStringEx fileName = ownFile ? programFile : CStringEx(name);
    const bool hasDot = ownFile || wcschr(name, L'.') != nullptr;
    const wchar_t* suffix = hasDot ? L".config" : L".exe.config";

    // Without the shared folder there is no first place to look: the folder levels alone
    // would name a folder at the root of the current drive, where any user may plant a file.
    CTaskMemEx programData;
    const HRESULT hr = g_knownFolderPath(FOLDERID_ProgramData, 0, nullptr, reinterpret_cast<PWSTR*>(programData.Put()));
    if (FAILED(hr) || programData.Get() == nullptr)
    {
        CUtilLogging::Instance().LogRes(2, IDS_CFG_FILE_NOT_FOUND, hr, path.GetString());
        ThrowIfFailed(FAILED(hr) ? hr : E_FAIL);
    }
    path = static_cast<const wchar_t*>(programData.Get());

    for (UINT levelId : {IDS_DATA_FOLDER_COMPANY, IDS_DATA_FOLDER_PRODUCT, IDS_DATA_FOLDER_PROGRAM})
    {
        CStringEx level;
        if (!CResourceLoader::Instance().LoadString(levelId, level))
            ThrowWin32(ERROR_INVALID_PARAMETER);
        path += L"\\";
        path += level;
    }
    path.AppendFormat(L"\\%s%s", fileName.GetString(), suffix);
    if (FileExists(path))
        return;

    CUtilLogging::Instance().LogRes(2, IDS_CFG_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, path.GetString());
    path.Format(L"%s\\%s%s", folder.GetString(), fileName.GetString(), suffix);
    if (FileExists(path))
        return;
    CUtilLogging::Instance().LogRes(2, IDS_CFG_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, path.GetString());
    ThrowWin32(ERROR_FILE_NOT_FOUND);
}

BOOL CConfiguration::LoadKey(UINT keyId, CStringEx& key)
{
    try
    {
        return CResourceLoader::Instance().LoadString(keyId, key);
    }
    catch (...)
    {
        return FALSE;
    }
}

_CObjectExPtr<CXMLDOMNodeEx> CConfiguration::FindEntry(LPCWSTR key)
{
    if (!m_loaded || !m_root || !key)
        return nullptr;
    // An empty key takes the query itself, which answers it with the entries whose key
    // attribute is empty. Any other key, also one with a quote, is matched exactly through
    // the index: formatted into the query, a quote would end its text literal and let the
    // rest of the key act as part of the expression (x' or '1'='1 would select any entry).
    if (*key)
    {
        if (!m_indexed)
            BuildIndex();
        const auto found = m_index.find(key);
        return found != m_index.end() ? found->second : nullptr;
    }
    CStringEx format, xpath;
    if (!CResourceLoader::Instance().LoadString(IDS_CFG_ENTRY_XPATH, format))
        return nullptr;
    xpath.Format(format, key);
    return m_root->SelectSingleNode(xpath);
}

void CConfiguration::BuildIndex()
{
    m_index.clear();
    CStringEx xpath;
    if (CResourceLoader::Instance().LoadString(IDS_CFG_ALL_ENTRIES_XPATH, xpath))
    {
        if (_CObjectExPtr<CXMLDOMNodeListEx> entries = m_root->SelectNodes(xpath))
        {
            while (_CObjectExPtr<CXMLDOMNodeEx> entry = entries->NextNode())
            {
                const CStringEx key = entry->GetAttribute(m_keyAttributeName);
                // The first entry with a key wins, as with the query.
                if (!key.IsEmpty())
                    m_index.emplace(key.Str(), entry);
            }
        }
    }
    m_indexed = true;
}

void CConfiguration::AddToIndex(LPCWSTR key, const _CObjectExPtr<CXMLDOMNodeEx>& entry)
{
    if (m_indexed && key && *key)
        m_index.emplace(key, entry);
}

void CConfiguration::InvalidateIndex() noexcept
{
    m_index.clear();
    m_indexed = false;
}

BOOL CConfiguration::GetValue(LPCWSTR key, CStringEx& text)
{
    try
    {
        text.Empty();
        _CObjectExPtr<CXMLDOMNodeEx> entry = FindEntry(key);
        if (!entry)
            return FALSE;
        _CObjectExPtr<CXMLDOMNodeEx> value = entry->SelectSingleNode(m_valueName);
        if (value)
            text = value->GetText();
        return TRUE;
    }
    catch (...)
    {
        text.Empty();
        return FALSE;
    }
}

BOOL CConfiguration::GetValue(UINT keyId, CStringEx& text)
{
    CStringEx key;
    if (!LoadKey(keyId, key))
    {
        text.Empty();
        return FALSE;
    }
    return GetValue(key, text);
}

long CConfiguration::GetNumber(LPCWSTR key, long def)
{
    CStringEx text;
    if (!GetValue(key, text) || text.IsEmpty())
        return def;
    return wcstol(text, nullptr, 0);
}

long CConfiguration::GetNumber(UINT keyId, long def)
{
    CStringEx key;
    return LoadKey(keyId, key) ? GetNumber(key, def) : def;
}

BOOL CConfiguration::GetBool(LPCWSTR key)
{
    CStringEx text;
    return GetValue(key, text) && !text.IsEmpty() && wcstol(text, nullptr, 0) == 1;
}

BOOL CConfiguration::GetBool(UINT keyId)
{
    CStringEx key;
    return LoadKey(keyId, key) && GetBool(key);
}

BOOL CConfiguration::GetList(LPCWSTR key, std::vector<CStringEx>& values)
{
    try
    {
        values.clear();
        _CObjectExPtr<CXMLDOMNodeEx> entry = FindEntry(key);
        if (!entry)
            return FALSE;
        if (_CObjectExPtr<CXMLDOMNodeListEx> list = entry->SelectNodes(m_valueName))
        {
            while (_CObjectExPtr<CXMLDOMNodeEx> value = list->NextNode())
            {
                CStringEx text = value->GetText();
                if (!text.IsEmpty())
                    values.push_back(std::move(text));
            }
        }
        return TRUE;
    }
    catch (...)
    {
        values.clear();
        return FALSE;
    }
}

BOOL CConfiguration::GetList(UINT keyId, std::vector<CStringEx>& values)
{
    CStringEx key;
    if (!LoadKey(keyId, key))
    {
        values.clear();
        return FALSE;
    }
    return GetList(key, values);
}

_CObjectExPtr<IObjectExEnumerator> CConfiguration::GetEnumerator()
{
    try
    {
        if (!m_loaded || !m_root)
            return nullptr;
        return MakeObjectEx<CConfigValueEnum>(m_root);
    }
    catch (...)
    {
        return nullptr;
    }
}
