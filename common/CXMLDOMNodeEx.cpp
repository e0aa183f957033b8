#include "common/CXMLDOMNodeEx.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CXMLDOMNodeListEx.h"
#include <cwchar>

namespace
{
long ToNumber(const CStringEx& text, long def)
{
    return text.IsEmpty() ? def : wcstol(text, nullptr, 10);
}
}

CXMLDOMNodeEx::CXMLDOMNodeEx(IXMLDOMNode* node) : m_node(node)
{
    // A document node has no owner; it creates its children itself.
    if (m_node && (FAILED(m_node->get_ownerDocument(m_document.Put())) || !m_document))
        m_node.QueryInterface(KelvoMsxml::IidXmlDomDocument, m_document);
}

CXMLDOMNodeEx::~CXMLDOMNodeEx() = default;

_CObjectExPtr<CXMLDOMNodeEx> CXMLDOMNodeEx::SelectSingleNode(LPCWSTR xpath, HRESULT* result)
{
    HRESULT hr = E_POINTER;
    CComPtrEx<IXMLDOMNode> found;
    if (m_node && xpath)
    {
        CBstrEx query(xpath);
        hr = m_node->selectSingleNode(query.Get(), found.Put());
        if (hr == S_OK && !found)
            hr = S_FALSE;
    }
    if (result)
        *result = hr;
    return hr == S_OK ? MakeObjectEx<CXMLDOMNodeEx>(found.Get()) : nullptr;
}

_CObjectExPtr<CXMLDOMNodeListEx> CXMLDOMNodeEx::SelectNodes(LPCWSTR xpath)
{
    CComPtrEx<IXMLDOMNodeList> list;
    if (!m_node || !xpath)
        return nullptr;
    CBstrEx query(xpath);
    if (m_node->selectNodes(query.Get(), list.Put()) != S_OK || !list)
        return nullptr;
    return MakeObjectEx<CXMLDOMNodeListEx>(list.Get());
}

CStringEx CXMLDOMNodeEx::GetText()
{
    CBstrEx text;
    if (!m_node || FAILED(m_node->get_text(text.Put())))
        return CStringEx();
    return CStringEx(text.Text(), static_cast<int>(text.Length()));
}

HRESULT CXMLDOMNodeEx::SetText(LPCWSTR text)
{
    if (!m_node)
        return E_POINTER;
    CBstrEx value(text ? text : L"");
    return m_node->put_text(value.Get());
}

CStringEx CXMLDOMNodeEx::GetNodeName()
{
    CBstrEx name;
    if (!m_node || FAILED(m_node->get_nodeName(name.Put())))
        return CStringEx();
    return CStringEx(name.Text());
}

DOMNodeType CXMLDOMNodeEx::GetNodeType()
{
    DOMNodeType type = NODE_INVALID;
    if (!m_node || FAILED(m_node->get_nodeType(&type)))
        return NODE_INVALID;
    return type;
}

CStringEx CXMLDOMNodeEx::GetAttribute(LPCWSTR name)
{
    CComPtrEx<IXMLDOMNamedNodeMap> attributes;
    CComPtrEx<IXMLDOMNode> attribute;
    if (!m_node || !name || m_node->get_attributes(attributes.Put()) != S_OK || !attributes)
        return CStringEx();
    CBstrEx attributeName(name);
    if (attributes->getNamedItem(attributeName.Get(), attribute.Put()) != S_OK || !attribute)
        return CStringEx();
    CBstrEx text;
    if (FAILED(attribute->get_text(text.Put())))
        return CStringEx();
    return CStringEx(text.Text(), static_cast<int>(text.Length()));
}

CStringEx CXMLDOMNodeEx::GetAttribute(UINT nameId)
{
    CStringEx name;
    if (!CResourceLoader::Instance().LoadString(nameId, name))
        return CStringEx();
    return GetAttribute(name);
}

long CXMLDOMNodeEx::GetAttributeNumber(UINT nameId, long def)
{
    return ToNumber(GetAttribute(nameId), def);
}

namespace
{
// Whether a text may name an element or an attribute. MSXML on Windows refuses other names;
// Wine's writes them out as they are and so makes a document that no parser reads again.
bool IsXmlName(LPCWSTR name)
{
    if (name == nullptr || *name == L'\0')
        return false;
    if (!(iswalpha(*name) || *name == L'_' || *name == L':' || *name >= 0xC0))
        return false;
    for (const wchar_t* c = name + 1; *c; ++c)
        if (!(iswalnum(*c) || *c == L'.' || *c == L'-' || *c == L'_' || *c == L':' || *c >= 0xB7))
            return false;
    return true;
}
}

HRESULT CXMLDOMNodeEx::SetAttribute(LPCWSTR name, LPCWSTR value)
{
    if (!name)
        return E_FAIL;
    if (!IsXmlName(name))
        return E_INVALIDARG;
    CComPtrEx<IXMLDOMElement> element;
    const HRESULT hr = m_node.QueryInterface(KelvoMsxml::IidXmlDomElement, element);
    if (FAILED(hr))
        return hr;
    CBstrEx attributeName(name);
    CVariantEx text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(value ? value : L"");
    if (!text.bstrVal)
        return E_OUTOFMEMORY;
    return element->setAttribute(attributeName.Get(), text);
}

CStringEx CXMLDOMNodeEx::GetChildText(LPCWSTR xpath)
{
    _CObjectExPtr<CXMLDOMNodeEx> child = SelectSingleNode(xpath);
    return child ? child->GetText() : CStringEx();
}

CStringEx CXMLDOMNodeEx::GetChildText(UINT xpathId)
{
    CStringEx xpath;
    if (!CResourceLoader::Instance().LoadString(xpathId, xpath))
        return CStringEx();
    return GetChildText(xpath);
}

long CXMLDOMNodeEx::GetChildNumber(UINT xpathId)
{
    return ToNumber(GetChildText(xpathId), 0);
}

HRESULT CXMLDOMNodeEx::SetChildText(LPCWSTR xpath, LPCWSTR text)
{
    if (!xpath || !text)
        return E_FAIL;
    HRESULT hr = S_OK;
    _CObjectExPtr<CXMLDOMNodeEx> child = SelectSingleNode(xpath, &hr);
    if (FAILED(hr))
        return hr;
    if (!child)
        child = AppendChild(xpath);
    return child ? child->SetText(text) : E_FAIL;
}

_CObjectExPtr<CXMLDOMNodeEx> CXMLDOMNodeEx::AppendChild(LPCWSTR name)
{
    if (!m_node || !m_document || !IsXmlName(name))
        return nullptr;
    CVariantEx type;
    type.vt = VT_I4;
    type.lVal = NODE_ELEMENT;
    CBstrEx elementName(name);
    CBstrEx noNamespace(L"");
    CComPtrEx<IXMLDOMNode> created;
    CComPtrEx<IXMLDOMNode> appended;
    if (FAILED(m_document->createNode(type, elementName.Get(), noNamespace.Get(), created.Put())) || !created)
        return nullptr;
    if (FAILED(m_node->appendChild(created.Get(), appended.Put())) || !appended)
        return nullptr;
    return MakeObjectEx<CXMLDOMNodeEx>(appended.Get());
}

HRESULT CXMLDOMNodeEx::RemoveChild(CXMLDOMNodeEx& child)
{
    if (!m_node || !child.m_node)
        return E_POINTER;
    CComPtrEx<IXMLDOMNode> removed;
    return m_node->removeChild(child.m_node.Get(), removed.Put());
}
