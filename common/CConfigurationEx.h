#pragma once
#include "common/CConfiguration.h"

class CXMLDOMDocumentEx;

// A configuration that can also be created, changed and written back. Writes go to the
// section element of the document; Save writes the whole document indented, through a
// temporary file that replaces the old file in one step, so a failed save leaves the old
// file as it was.
class CConfigurationEx : public CConfiguration
{
public:
    CConfigurationEx();
    ~CConfigurationEx() override;

    // Starts a new, empty configuration that will be saved at path.
    HRESULT CreateFromTemplate(LPCWSTR path);
    // Takes the XML text as the configuration to be saved at path. A text that does not
    // parse leaves the configuration not loaded.
    HRESULT LoadFromText(LPCWSTR path, LPCWSTR xml);
    // Takes the document as the configuration stored at path; E_OUTOFMEMORY when the
    // document has no root. A null document or an empty path leaves nothing loaded.
    HRESULT Attach(LPCWSTR path, const _CObjectExPtr<CXMLDOMDocumentEx>& document);
    // Loads the file at a full path, with no search of the usual locations.
    HRESULT LoadFile(LPCWSTR path);

    // The text of the named child element of the key's entry. FALSE when the entry or the
    // child is missing.
    BOOL GetEntryChild(LPCWSTR key, LPCWSTR childName, CStringEx& text);
    // That text as a number (0x hexadecimal, leading 0 octal); def, and FALSE, when the
    // entry or the text is missing.
    BOOL GetEntryNumber(LPCWSTR key, LPCWSTR childName, long& number, long def);
    // The child names of a range setting's lower and upper bound.
    const CStringEx& GetLowName() const noexcept { return m_lowName; }
    const CStringEx& GetHighName() const noexcept { return m_highName; }

    // Sets the entry's (first) value, adding the entry when it is missing. S_FALSE when
    // nothing was written: an empty key, nothing loaded, or no section element. A key with
    // a quote (') is refused with a failure code.
    HRESULT SetValue(LPCWSTR key, LPCWSTR value);
    // Makes the entry hold exactly these values in this order. S_FALSE when nothing was
    // written: an empty key or list, nothing loaded, or no section element. A key with a
    // quote (') is refused with a failure code.
    HRESULT SetList(LPCWSTR key, const std::vector<CStringEx>& values);
    // Makes the entry hold no values at all, adding the entry when it is missing, so that
    // the file states an empty list rather than leaving the old values. S_FALSE and quote
    // as for SetList.
    HRESULT ClearList(LPCWSTR key);
    // Sets the text of a named child element of the key's entry (a range setting's bound),
    // adding the entry and the child when missing. S_FALSE and quote as for SetValue.
    HRESULT SetEntryChild(LPCWSTR key, LPCWSTR childName, LPCWSTR text);

    // Writes the document, indented, to the configuration's path. 0 and nothing done when
    // nothing is loaded.
    HRESULT Save();
    // The document as the indented XML text that Save would write.
    HRESULT GetXml(CStringEx& text);
    // The bytes of the file that Save would write, checked to hold exactly the document's
    // content, for a writer that stores them itself. Nothing is written.
    HRESULT GetFileBytes(std::vector<BYTE>& bytes);

    BOOL HasDocument() const noexcept { return static_cast<bool>(m_document); }
    // The root element, for callers that query the document themselves; null when nothing
    // is loaded.
    _CObjectExPtr<CXMLDOMNodeEx> GetRootNode() const;

    // Run-time seam: the call that puts a saved file in place of the old one (ReplaceFileW
    // with its arguments), so that tests can make it fail half-way, after the old file was
    // moved to the backup name, as a real replacement may. Null restores ReplaceFileW.
    using ReplaceFileFn = BOOL(WINAPI*)(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                                        LPVOID exclude, LPVOID reserved);
    static void SetReplaceFile(ReplaceFileFn replaceFile);

private:
    // Makes the entry's value elements exactly the given values (none: an empty entry).
    HRESULT ReplaceValues(LPCWSTR key, const std::vector<CStringEx>& values);
    void Detach();
    _CObjectExPtr<CXMLDOMNodeEx> FindOrAddEntry(LPCWSTR key);
    HRESULT Render(_CObjectExPtr<CXMLDOMDocumentEx>& rendered, CStringEx& signature, CStringEx* text);
    static HRESULT WriteThroughSax(CXMLDOMDocumentEx& source, CStringEx& text);
    static void WriteFileAtomically(CXMLDOMDocumentEx& document, const CStringEx& signature, LPCWSTR path);
};
