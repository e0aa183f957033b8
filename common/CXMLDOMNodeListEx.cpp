#include "common/CXMLDOMNodeListEx.h"
#include "common/CXMLDOMNodeEx.h"

CXMLDOMNodeListEx::~CXMLDOMNodeListEx() = default;

_CObjectExPtr<CXMLDOMNodeEx> CXMLDOMNodeListEx::Item(long index)
{
    CComPtrEx<IXMLDOMNode> node;
    if (!m_list || m_list->get_item(index, node.Put()) != S_OK || !node)
        return nullptr;
    return MakeObjectEx<CXMLDOMNodeEx>(node.Get());
}

_CObjectExPtr<CXMLDOMNodeEx> CXMLDOMNodeListEx::NextNode()
{
    CComPtrEx<IXMLDOMNode> node;
    if (!m_list || m_list->nextNode(node.Put()) != S_OK || !node)
        return nullptr;
    return MakeObjectEx<CXMLDOMNodeEx>(node.Get());
}

long CXMLDOMNodeListEx::Length()
{
    long length = 0;
    if (!m_list || FAILED(m_list->get_length(&length)))
        return 0;
    return length;
}
