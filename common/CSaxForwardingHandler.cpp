#include "common/CSaxForwardingHandler.h"
#include <new>

CComPtrEx<ISAXContentHandler> CSaxForwardingHandler::Create(ISAXContentHandler* target)
{
    CComPtrEx<ISAXContentHandler> handler;
    if (target)
        handler.Attach(new (std::nothrow) CSaxForwardingHandler(target));
    return handler;
}

HRESULT WINAPI CSaxForwardingHandler::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == KelvoMsxml::IidSaxContentHandler)
    {
        *object = static_cast<ISAXContentHandler*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG WINAPI CSaxForwardingHandler::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG WINAPI CSaxForwardingHandler::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT WINAPI CSaxForwardingHandler::putDocumentLocator(ISAXLocator*)
{
    // Positions only matter for error reports, which the reader makes itself.
    return S_OK;
}

HRESULT WINAPI CSaxForwardingHandler::startDocument()
{
    return m_target->startDocument();
}

HRESULT WINAPI CSaxForwardingHandler::endDocument()
{
    return m_target->endDocument();
}

HRESULT WINAPI CSaxForwardingHandler::startPrefixMapping(const wchar_t* prefix, int prefixLength, const wchar_t* uri,
                                                         int uriLength)
{
    return m_target->startPrefixMapping(prefix, prefixLength, uri, uriLength);
}

HRESULT WINAPI CSaxForwardingHandler::endPrefixMapping(const wchar_t* prefix, int prefixLength)
{
    return m_target->endPrefixMapping(prefix, prefixLength);
}

HRESULT WINAPI CSaxForwardingHandler::startElement(const wchar_t* uri, int uriLength, const wchar_t* localName,
                                                   int localNameLength, const wchar_t* qName, int qNameLength,
                                                   ISAXAttributes* attributes)
{
    return m_target->startElement(uri, uriLength, localName, localNameLength, qName, qNameLength, attributes);
}

HRESULT WINAPI CSaxForwardingHandler::endElement(const wchar_t* uri, int uriLength, const wchar_t* localName,
                                                 int localNameLength, const wchar_t* qName, int qNameLength)
{
    return m_target->endElement(uri, uriLength, localName, localNameLength, qName, qNameLength);
}

HRESULT WINAPI CSaxForwardingHandler::characters(const wchar_t* chars, int length)
{
    return m_target->characters(chars, length);
}

HRESULT WINAPI CSaxForwardingHandler::ignorableWhitespace(const wchar_t* chars, int length)
{
    return m_target->ignorableWhitespace(chars, length);
}

HRESULT WINAPI CSaxForwardingHandler::processingInstruction(const wchar_t* target, int targetLength,
                                                            const wchar_t* data, int dataLength)
{
    return m_target->processingInstruction(target, targetLength, data, dataLength);
}

HRESULT WINAPI CSaxForwardingHandler::skippedEntity(const wchar_t* name, int nameLength)
{
    return m_target->skippedEntity(name, nameLength);
}
