#pragma once
#include "common/CComPtrEx.h"
#include "common/CObjectExPtr.h"
#include "common/MsxmlGuids.h"

class CXMLDOMNodeEx;

// A list of nodes selected from an XML document. Items are handed out as counted node
// wrappers; an index past the end or the end of the iteration yields a null pointer.
class CXMLDOMNodeListEx : public CObjectEx
{
public:
    explicit CXMLDOMNodeListEx(IXMLDOMNodeList* list) noexcept : m_list(list) {}
    ~CXMLDOMNodeListEx() override;

    // The node at index (from 0), or null.
    _CObjectExPtr<CXMLDOMNodeEx> Item(long index);
    // The next node of the list's own iteration, or null after the last.
    _CObjectExPtr<CXMLDOMNodeEx> NextNode();
    // Number of nodes; 0 when the list cannot tell.
    long Length();

private:
    CComPtrEx<IXMLDOMNodeList> m_list;
};
