#pragma once
#include "common/CComPtrEx.h"
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"
#include "common/MsxmlGuids.h"

class CXMLDOMNodeListEx;

// One node of an XML document, with the document that owns it (needed to create
// children). Queries take XPath expressions relative to this node. Nothing is thrown:
// a query that fails or matches nothing gives a null pointer or an empty text, and
// changes report an HRESULT.
class CXMLDOMNodeEx : public CObjectEx
{
public:
    explicit CXMLDOMNodeEx(IXMLDOMNode* node);
    ~CXMLDOMNodeEx() override;

    // The first node the expression selects, or null. When result is given it receives
    // S_OK for a match, S_FALSE for none, or the failure of a bad expression.
    _CObjectExPtr<CXMLDOMNodeEx> SelectSingleNode(LPCWSTR xpath, HRESULT* result = nullptr);
    // Every node the expression selects, or null when the expression fails.
    _CObjectExPtr<CXMLDOMNodeListEx> SelectNodes(LPCWSTR xpath);

    CStringEx GetText();
    HRESULT SetText(LPCWSTR text);
    CStringEx GetNodeName();
    DOMNodeType GetNodeType();

    // An attribute's value; empty when the node has no such attribute.
    CStringEx GetAttribute(LPCWSTR name);
    CStringEx GetAttribute(UINT nameId);
    // The attribute as a base-10 number, or def when it is missing or empty.
    long GetAttributeNumber(UINT nameId, long def);
    HRESULT SetAttribute(LPCWSTR name, LPCWSTR value);

    // The text of the first node the expression selects; empty when there is none.
    CStringEx GetChildText(LPCWSTR xpath);
    CStringEx GetChildText(UINT xpathId);
    // That text as a base-10 number; 0 when it is empty.
    long GetChildNumber(UINT xpathId);
    // Replaces the text of the selected node, or appends a child element of that name
    // holding the text when nothing is selected. E_FAIL for a null argument.
    HRESULT SetChildText(LPCWSTR xpath, LPCWSTR text);

    // Appends a new element of that name as the last child; null on failure.
    _CObjectExPtr<CXMLDOMNodeEx> AppendChild(LPCWSTR name);
    // Removes a child of this node.
    HRESULT RemoveChild(CXMLDOMNodeEx& child);

    IXMLDOMNode* Get() const noexcept { return m_node.Get(); }

private:
    CComPtrEx<IXMLDOMNode> m_node;
    CComPtrEx<IXMLDOMDocument> m_document;
};
