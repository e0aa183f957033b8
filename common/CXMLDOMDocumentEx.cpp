#include "common/CXMLDOMDocumentEx.h"
#include "common/CErrorEx.h"
#include "common/CUtilLogging.h"
#include "common/CXMLDOMNodeEx.h"
#include "resources/KVIdsConfig.h"
#include <cwchar>
#include <utility>
#include <vector>

namespace
{
using NodeVector = std::vector<CComPtrEx<IXMLDOMNode>>;

NodeVector Children(IXMLDOMNode* parent)
{
    NodeVector children;
    CComPtrEx<IXMLDOMNode> child;
    if (FAILED(parent->get_firstChild(child.Put())))
        return children;
    while (child)
    {
        CComPtrEx<IXMLDOMNode> next;
        if (FAILED(child->get_nextSibling(next.Put())))
            next.Reset();
        children.push_back(std::move(child));
        child = std::move(next);
    }
    return children;
}

DOMNodeType TypeOf(IXMLDOMNode* node)
{
    DOMNodeType type = NODE_INVALID;
    if (FAILED(node->get_nodeType(&type)))
        return NODE_INVALID;
    return type;
}

CStringEx TextOf(IXMLDOMNode* node)
{
    CBstrEx text;
    if (FAILED(node->get_text(text.Put())))
        return CStringEx();
    return CStringEx(text.Text(), static_cast<int>(text.Length()));
}

CStringEx NameOf(IXMLDOMNode* node)
{
    CBstrEx name;
    if (FAILED(node->get_nodeName(name.Put())))
        return CStringEx();
    return CStringEx(name.Text());
}

bool IsBlank(const CStringEx& text)
{
    for (int i = 0; i < text.GetLength(); ++i)
    {
        const wchar_t c = text.GetAt(i);
        if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n')
            return false;
    }
    return true;
}

// Element-only content: at least one child element, and text children (if any) that are
// nothing but white space. Its white space is layout, never a value.
bool IsElementOnly(const NodeVector& children)
{
    bool hasElement = false;
    for (const auto& child : children)
    {
        switch (TypeOf(child.Get()))
        {
        case NODE_ELEMENT:
            hasElement = true;
            break;
        case NODE_TEXT:
            if (!IsBlank(TextOf(child.Get())))
                return false;
            break;
        case NODE_CDATA_SECTION:
        case NODE_ENTITY_REFERENCE:
            return false;
        default:
            break;
        }
    }
    return hasElement;
}

void AppendAttributes(IXMLDOMNode* node, CStringEx& signature)
{
    CComPtrEx<IXMLDOMNamedNodeMap> attributes;
    long count = 0;
    if (node->get_attributes(attributes.Put()) != S_OK || !attributes || FAILED(attributes->get_length(&count)))
        return;
    for (long i = 0; i < count; ++i)
    {
        CComPtrEx<IXMLDOMNode> attribute;
        if (attributes->get_item(i, attribute.Put()) != S_OK || !attribute)
            continue;
        signature += L' ';
        signature += NameOf(attribute.Get());
        signature += L"=\"";
        signature += TextOf(attribute.Get());
        signature += L'"';
    }
}

void AppendSignature(IXMLDOMNode* parent, CStringEx& signature)
{
    const NodeVector children = Children(parent);
    const bool elementOnly = IsElementOnly(children);
    bool inText = false;
    for (const auto& child : children)
    {
        const DOMNodeType type = TypeOf(child.Get());
        // Adjacent text and CDATA runs form one value, however a writer splits them.
        if (type == NODE_TEXT || type == NODE_CDATA_SECTION)
        {
            if (elementOnly)
                continue;
            if (!inText)
                signature += L"\x01T";
            signature += TextOf(child.Get());
            inText = true;
            continue;
        }
        inText = false;
        switch (type)
        {
        case NODE_ELEMENT:
            signature += L"\x01<";
            signature += NameOf(child.Get());
            AppendAttributes(child.Get(), signature);
            signature += L'>';
            AppendSignature(child.Get(), signature);
            signature += L"\x01/";
            break;
        case NODE_COMMENT:
            signature += L"\x01!";
            signature += TextOf(child.Get());
            break;
        case NODE_PROCESSING_INSTRUCTION:
        {
            // The XML declaration is the writer's business, not content.
            const CStringEx target = NameOf(child.Get());
            if (target.CompareNoCase(L"xml") == 0)
                break;
            signature += L"\x01?";
            signature += target;
            signature += L' ';
            signature += TextOf(child.Get());
            break;
        }
        case NODE_DOCUMENT_TYPE:
            signature += L"\x01D";
            signature += NameOf(child.Get());
            break;
        default:
            signature += L"\x01#";
            signature += NameOf(child.Get());
            break;
        }
    }
}

CStringEx Tabs(int depth)
{
    CStringEx text(L"\r\n");
    for (int i = 0; i < depth; ++i)
        text += L'\t';
    return text;
}
}

CXMLDOMDocumentEx::~CXMLDOMDocumentEx() = default;

HRESULT CXMLDOMDocumentEx::Create(CComPtrEx<IXMLDOMDocument>& document)
{
    CComPtrEx<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(KelvoMsxml::ClsidDomDocument, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.PutVoid());
    if (SUCCEEDED(hr))
        hr = OleRun(unknown.Get());
    if (SUCCEEDED(hr))
        hr = unknown.QueryInterface(KelvoMsxml::IidXmlDomDocument, document);
    if (FAILED(hr))
    {
        CUtilLogging::Instance().LogRes(2, IDS_XML_CREATE_FAILED, hr, L"DOMDocument");
        return hr;
    }
    Configure(document.Get());
    return S_OK;
}

void CXMLDOMDocumentEx::Configure(IXMLDOMDocument* document)
{
    // Parse synchronously, keep white space inside values, and query with XPath. Nothing
    // outside the document is fetched: no document type is read (a program running as
    // SYSTEM reads these files too), and no external resource is resolved.
    document->put_async(VARIANT_FALSE);
    document->put_preserveWhiteSpace(VARIANT_TRUE);
    document->put_resolveExternals(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    CComPtrEx<IXMLDOMDocument2> document2;
    if (SUCCEEDED(document->QueryInterface(KelvoMsxml::IidXmlDomDocument2, document2.PutVoid())))
    {
        CBstrEx property(L"SelectionLanguage");
        CVariantEx language;
        language.vt = VT_BSTR;
        language.bstrVal = SysAllocString(L"XPath");
        // Older parsers that lack the property still understand the simple paths used here.
        document2->setProperty(property.Get(), language);
        // A parser without these properties is covered by the document type check after
        // every parse (RefuseDocumentType).
        for (const auto& setting : { std::make_pair(L"ProhibitDTD", true), std::make_pair(L"ResolveExternals", false) })
        {
            CBstrEx name(setting.first);
            CVariantEx value;
            value.vt = VT_BOOL;
            value.boolVal = setting.second ? VARIANT_TRUE : VARIANT_FALSE;
            document2->setProperty(name.Get(), value);
        }
        // Configuration files nest a few elements deep; the walks over a document recurse
        // once per level, so a parser that knows the property refuses deeper documents.
        CBstrEx depthName(L"MaxElementDepth");
        CVariantEx depth;
        depth.vt = VT_I4;
        depth.lVal = 64;
        document2->setProperty(depthName.Get(), depth);
    }
}

HRESULT CXMLDOMDocumentEx::RefuseDocumentType(IXMLDOMDocument* document, LPCWSTR source)
{
    CComPtrEx<IXMLDOMDocumentType> type;
    if (document->get_doctype(type.Put()) != S_OK || !type)
        return S_OK;
    CUtilLogging::Instance().LogRes(2, IDS_XML_DOCTYPE_REFUSED, source);
    return E_FAIL;
}

void CXMLDOMDocumentEx::LogParseError(IXMLDOMDocument* document, LPCWSTR source, HRESULT& result)
{
    result = E_FAIL;
    CComPtrEx<IXMLDOMParseError> error;
    CBstrEx reason, text;
    long line = 0, position = 0, code = 0;
    if (SUCCEEDED(document->get_parseError(error.Put())) && error)
    {
        // Parsers fill in what they know; the rest stays empty or 0.
        error->get_reason(reason.Put());
        error->get_srcText(text.Put());
        error->get_line(&line);
        error->get_linepos(&position);
        if (SUCCEEDED(error->get_errorCode(&code)) && FAILED(code))
            result = code;
    }
    CUtilLogging::Instance().LogRes(2, IDS_XML_PARSE_ERROR, source, reason.Text(), text.Text(), line, position);
}

HRESULT CXMLDOMDocumentEx::Load(LPCWSTR path)
{
    CVariantEx source;
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(path ? path : L"");
    return LoadFrom(source, path ? path : L"");
}

HRESULT CXMLDOMDocumentEx::LoadBytes(const std::vector<BYTE>& bytes)
{
    CComPtrEx<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    ULONG written = 0;
    if (SUCCEEDED(hr) && !bytes.empty())
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    const LARGE_INTEGER start = {};
    if (SUCCEEDED(hr))
        hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;
    CVariantEx source;
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();
    source.punkVal->AddRef();
    return LoadFrom(source, L"(bytes)");
}

HRESULT CXMLDOMDocumentEx::LoadFrom(const VARIANT& source, LPCWSTR sourceName)
{
    CComPtrEx<IXMLDOMDocument> document;
    HRESULT hr = Create(document);
    if (FAILED(hr))
        return hr;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->load(source, &loaded);
    if (FAILED(hr))
    {
        CUtilLogging::Instance().LogRes(2, IDS_XML_LOAD_FAILED, hr, sourceName);
        return hr;
    }
    if (loaded != VARIANT_TRUE)
    {
        LogParseError(document.Get(), sourceName, hr);
        return hr;
    }
    if (FAILED(hr = RefuseDocumentType(document.Get(), sourceName)))
        return hr;
    m_document = std::move(document);
    return S_OK;
}

HRESULT CXMLDOMDocumentEx::LoadXML(LPCWSTR text)
{
    CComPtrEx<IXMLDOMDocument> document;
    HRESULT hr = Create(document);
    if (FAILED(hr))
        return hr;
    CBstrEx xml(text ? text : L"");
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->loadXML(xml.Get(), &loaded);
    if (FAILED(hr))
    {
        CUtilLogging::Instance().LogRes(2, IDS_XML_LOAD_FAILED, hr, xml.Text());
        return hr;
    }
    if (loaded != VARIANT_TRUE)
    {
        LogParseError(document.Get(), L"(text)", hr);
        return hr;
    }
    if (FAILED(hr = RefuseDocumentType(document.Get(), L"(text)")))
        return hr;
    m_document = std::move(document);
    return S_OK;
}

HRESULT CXMLDOMDocumentEx::Save(LPCWSTR path)
{
    if (!m_document)
        return E_POINTER;
    CVariantEx target;
    target.vt = VT_BSTR;
    target.bstrVal = SysAllocString(path ? path : L"");
    return m_document->save(target);
}

HRESULT CXMLDOMDocumentEx::SaveToBytes(std::vector<BYTE>& bytes)
{
    bytes.clear();
    if (!m_document)
        return E_POINTER;
    CComPtrEx<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    if (FAILED(hr))
        return hr;
    CVariantEx target;
    target.vt = VT_UNKNOWN;
    target.punkVal = stream.Get();
    target.punkVal->AddRef();
    if (FAILED(hr = m_document->save(target)))
        return hr;
    STATSTG status = {};
    const LARGE_INTEGER start = {};
    if (FAILED(hr = stream->Stat(&status, STATFLAG_NONAME)) || FAILED(hr = stream->Seek(start, STREAM_SEEK_SET, nullptr)))
        return hr;
    if (status.cbSize.QuadPart > 64u * 1024 * 1024)
        return E_OUTOFMEMORY;
    bytes.resize(static_cast<size_t>(status.cbSize.QuadPart));
    ULONG read = 0;
    if (!bytes.empty() && (FAILED(hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)) || read != bytes.size()))
    {
        bytes.clear();
        return FAILED(hr) ? hr : E_FAIL;
    }
    return S_OK;
}

HRESULT CXMLDOMDocumentEx::GetXml(CStringEx& text)
{
    text.Empty();
    if (!m_document)
        return E_POINTER;
    CBstrEx xml;
    const HRESULT hr = m_document->get_xml(xml.Put());
    if (SUCCEEDED(hr))
        text = CStringEx(xml.Text(), static_cast<int>(xml.Length()));
    return hr;
}

_CObjectExPtr<CXMLDOMNodeEx> CXMLDOMDocumentEx::GetRoot()
{
    if (!m_document)
        return nullptr;
    for (const auto& child : Children(m_document.Get()))
    {
        if (_wcsnicmp(NameOf(child.Get()), L"xml", 3) != 0)
            return MakeObjectEx<CXMLDOMNodeEx>(child.Get());
    }
    return nullptr;
}

_CObjectExPtr<CXMLDOMDocumentEx> CXMLDOMDocumentEx::Clone()
{
    CComPtrEx<IXMLDOMNode> copy;
    if (!m_document || FAILED(m_document->cloneNode(VARIANT_TRUE, copy.Put())) || !copy)
        return nullptr;
    _CObjectExPtr<CXMLDOMDocumentEx> clone = MakeObjectEx<CXMLDOMDocumentEx>();
    if (FAILED(copy.QueryInterface(KelvoMsxml::IidXmlDomDocument, clone->m_document)))
        return nullptr;
    // A copy may start with the parser's defaults; it reads values the way the original does.
    Configure(clone->m_document.Get());
    return clone;
}

CStringEx CXMLDOMDocumentEx::GetContentSignature()
{
    CStringEx signature;
    if (m_document)
        AppendSignature(m_document.Get(), signature);
    return signature;
}

HRESULT CXMLDOMDocumentEx::RemoveIndentation()
{
    if (!m_document)
        return E_POINTER;
    try
    {
        for (const auto& child : Children(m_document.Get()))
        {
            if (TypeOf(child.Get()) == NODE_ELEMENT)
                ThrowIfFailed(IndentChildren(child.Get(), 0, false));
        }
        return S_OK;
    }
    catch (const CErrorEx& error)
    {
        return error.ToHResult();
    }
}

HRESULT CXMLDOMDocumentEx::Indent()
{
    if (!m_document)
        return E_POINTER;
    try
    {
        for (const auto& child : Children(m_document.Get()))
        {
            if (TypeOf(child.Get()) == NODE_ELEMENT)
                ThrowIfFailed(IndentChildren(child.Get(), 0, true));
        }
        return S_OK;
    }
    catch (const CErrorEx& error)
    {
        return error.ToHResult();
    }
}

// Drops the layout white space of element-only content below parent and, when indent is
// set, puts a line break and depth + 1 tabs before each child and a line break and depth
// tabs before the end tag. Value texts and mixed content stay untouched.
HRESULT CXMLDOMDocumentEx::IndentChildren(IXMLDOMNode* parent, int depth, bool indent)
{
    const NodeVector children = Children(parent);
    const bool elementOnly = IsElementOnly(children);
    for (const auto& child : children)
    {
        const DOMNodeType type = TypeOf(child.Get());
        if (elementOnly && type == NODE_TEXT)
        {
            CComPtrEx<IXMLDOMNode> removed;
            ThrowIfFailed(parent->removeChild(child.Get(), removed.Put()));
            continue;
        }
        if (elementOnly && indent)
        {
            CBstrEx layout(Tabs(depth + 1));
            CComPtrEx<IXMLDOMText> text;
            CComPtrEx<IXMLDOMNode> inserted;
            ThrowIfFailed(m_document->createTextNode(layout.Get(), text.Put()));
            CVariantEx before;
            before.vt = VT_UNKNOWN;
            before.punkVal = child.Get();
            child->AddRef();
            ThrowIfFailed(parent->insertBefore(text.Get(), before, inserted.Put()));
        }
        if (type == NODE_ELEMENT)
            ThrowIfFailed(IndentChildren(child.Get(), depth + 1, indent));
    }
    if (elementOnly && indent)
    {
        CBstrEx layout(Tabs(depth));
        CComPtrEx<IXMLDOMText> text;
        CComPtrEx<IXMLDOMNode> appended;
        ThrowIfFailed(m_document->createTextNode(layout.Get(), text.Put()));
        ThrowIfFailed(parent->appendChild(text.Get(), appended.Put()));
    }
    return S_OK;
}
