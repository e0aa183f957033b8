#pragma once
#include "common/CStringEx.h"
#include "common/IObjectExEnumerator.h"
#include <shlobj.h>
#include <string>
#include <unordered_map>
#include <vector>

class CXMLDOMDocumentEx;
class CXMLDOMNodeEx;

// A program's XML ".config" file, found under the shared program-data folder first and
// beside the program second, answering typed queries by key. A configuration that is not
// loaded answers every query with its "missing" result. Keys are texts or the string IDs
// of key texts. Nothing is thrown.
class CConfiguration : public IObjectExEnumerable
{
public:
    CConfiguration();
    ~CConfiguration() override;

    // Finds and loads the file: a null name means the running program's own file name
    // (extension included) + ".config", a name with a "." gets ".config", any other name
    // ".exe.config". TRUE when loaded.
    BOOL Load(LPCWSTR name);

    // The first value of the entry; FALSE with an empty text when there is no such entry.
    BOOL GetValue(LPCWSTR key, CStringEx& text);
    BOOL GetValue(UINT keyId, CStringEx& text);
    // The value as a number (a leading 0x is hexadecimal, a leading 0 octal); def when the
    // entry is missing or its value is empty; 0 for a text that is not a number.
    long GetNumber(LPCWSTR key, long def);
    long GetNumber(UINT keyId, long def);
    // TRUE only when the value is the number 1.
    BOOL GetBool(LPCWSTR key);
    BOOL GetBool(UINT keyId);
    // Every non-empty value of the entry, in file order. TRUE when the entry exists.
    BOOL GetList(LPCWSTR key, std::vector<CStringEx>& values);
    BOOL GetList(UINT keyId, std::vector<CStringEx>& values);

    // A CConfigValueEnum over every value, or null when nothing is loaded.
    _CObjectExPtr<IObjectExEnumerator> GetEnumerator() override;

    BOOL IsLoaded() const noexcept { return m_loaded != 0; }
    // The full path of the loaded file; empty when nothing is loaded.
    const CStringEx& GetPath() const noexcept { return m_path; }
    // The file the last Load read, or the last place it looked when it found none.
    const CStringEx& GetTriedPath() const noexcept { return m_triedPath; }

    // Run-time seam: the call that resolves the shared program-data folder
    // (SHGetKnownFolderPath with its arguments), so that tests can make it fail. Null
    // restores SHGetKnownFolderPath.
    using KnownFolderFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path);
    static void SetKnownFolderPath(KnownFolderFn knownFolderPath);

protected:
    // The entry element for the key, or null. The first entry with that key in file order,
    // as the entry query (479) selects it, but found through an index of all entries
    // (466, by their key attribute) built at the first lookup: an XPath query scans every
    // entry, which costs milliseconds per lookup in a file of thousands of entries.
    _CObjectExPtr<CXMLDOMNodeEx> FindEntry(LPCWSTR key);
    // Forgets the index; called whenever entries are added or the document is replaced.
    void InvalidateIndex() noexcept;
    // Loads the document at path and takes its root; throws on failure, leaving nothing loaded.
    void LoadDocument(LPCWSTR path);
    // Records an entry just appended to the document.
    void AddToIndex(LPCWSTR key, const _CObjectExPtr<CXMLDOMNodeEx>& entry);
    static BOOL LoadKey(UINT keyId, CStringEx& key);

    CStringEx m_entryName;
    CStringEx m_keyAttributeName;
    CStringEx m_valueName;
    CStringEx m_lowName;
    CStringEx m_highName;
    _CObjectExPtr<CXMLDOMDocumentEx> m_document;
    _CObjectExPtr<CXMLDOMNodeEx> m_root;
    LONG m_loaded = 0;
    CStringEx m_path;
    CStringEx m_triedPath;

private:
    void FindFile(LPCWSTR name, CStringEx& path);
    void BuildIndex();

    std::unordered_map<std::wstring, _CObjectExPtr<CXMLDOMNodeEx>> m_index;
    bool m_indexed = false;
};
