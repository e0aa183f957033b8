#pragma once
#include "common/CComPtrEx.h"
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"
#include "common/MsxmlGuids.h"
#include <vector>

class CXMLDOMNodeEx;

// An XML document over the MSXML DOM. Loading creates a fresh document that replaces the
// held one only when it parsed; failures are logged and come back as HRESULTs. A document
// with a document type declaration is refused, and nothing external is resolved. Documents
// keep white space as written, so values with leading or trailing blanks read back as
// they were stored.
class CXMLDOMDocumentEx : public CObjectEx
{
public:
    CXMLDOMDocumentEx() noexcept = default;
    ~CXMLDOMDocumentEx() override;

    // Parses the file at path; 0 on success.
    HRESULT Load(LPCWSTR path);
    // Parses an XML text; 0 on success.
    HRESULT LoadXML(LPCWSTR text);
    // Writes the document to path with the DOM's own save.
    HRESULT Save(LPCWSTR path);
    // The bytes the DOM's own save writes to a file, saved into memory instead.
    HRESULT SaveToBytes(std::vector<BYTE>& bytes);
    // Parses such bytes (a file's content held in memory); 0 on success.
    HRESULT LoadBytes(const std::vector<BYTE>& bytes);
    // The document as XML text.
    HRESULT GetXml(CStringEx& text);

    // The first child of the document whose name does not begin with "xml" (so the XML
    // declaration is passed over), or null.
    _CObjectExPtr<CXMLDOMNodeEx> GetRoot();
    // A deep copy of the document, or null.
    _CObjectExPtr<CXMLDOMDocumentEx> Clone();

    // A text that identifies the document's content: every element with its attributes,
    // every value text, comment and processing instruction, in order. Line breaks and
    // tabs between elements are not part of it, so two documents that differ only in
    // their indentation have the same signature.
    CStringEx GetContentSignature();
    // Removes the white space between elements of element-only content.
    HRESULT RemoveIndentation();
    // Puts each child of element-only content on its own line, indented with tabs, and
    // leaves every value text as it is.
    HRESULT Indent();

    IXMLDOMDocument* Get() const noexcept { return m_document.Get(); }
    bool IsEmpty() const noexcept { return !m_document; }

private:
    static HRESULT Create(CComPtrEx<IXMLDOMDocument>& document);
    // Parses source (a path or a stream) into a fresh document; sourceName names it in the log.
    HRESULT LoadFrom(const VARIANT& source, LPCWSTR sourceName);
    static void Configure(IXMLDOMDocument* document);
    static void LogParseError(IXMLDOMDocument* document, LPCWSTR source, HRESULT& result);
    // E_FAIL (logged) for a parsed document that declares a document type.
    static HRESULT RefuseDocumentType(IXMLDOMDocument* document, LPCWSTR source);
    HRESULT IndentChildren(IXMLDOMNode* parent, int depth, bool indent);

    CComPtrEx<IXMLDOMDocument> m_document;
};
