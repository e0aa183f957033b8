#pragma once
#include "common/CComPtrEx.h"
#include "common/MsxmlGuids.h"

// A SAX content handler that passes every event on to another handler, except the
// document locator, which it accepts itself. It sits between the SAX reader and an XML
// writer whose content handler refuses the locator (Wine's writer answers E_NOTIMPL,
// which would stop the parse); with a writer that takes everything it changes nothing.
class CSaxForwardingHandler : public ISAXContentHandler
{
public:
    // A new handler with one reference, owned by the returned pointer.
    static CComPtrEx<ISAXContentHandler> Create(ISAXContentHandler* target);

    HRESULT WINAPI QueryInterface(REFIID iid, void** object) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;

    HRESULT WINAPI putDocumentLocator(ISAXLocator* locator) override;
    HRESULT WINAPI startDocument() override;
    HRESULT WINAPI endDocument() override;
    HRESULT WINAPI startPrefixMapping(const wchar_t* prefix, int prefixLength, const wchar_t* uri, int uriLength) override;
    HRESULT WINAPI endPrefixMapping(const wchar_t* prefix, int prefixLength) override;
    HRESULT WINAPI startElement(const wchar_t* uri, int uriLength, const wchar_t* localName, int localNameLength,
                                const wchar_t* qName, int qNameLength, ISAXAttributes* attributes) override;
    HRESULT WINAPI endElement(const wchar_t* uri, int uriLength, const wchar_t* localName, int localNameLength,
                              const wchar_t* qName, int qNameLength) override;
    HRESULT WINAPI characters(const wchar_t* chars, int length) override;
    HRESULT WINAPI ignorableWhitespace(const wchar_t* chars, int length) override;
    HRESULT WINAPI processingInstruction(const wchar_t* target, int targetLength, const wchar_t* data, int dataLength) override;
    HRESULT WINAPI skippedEntity(const wchar_t* name, int nameLength) override;

private:
    explicit CSaxForwardingHandler(ISAXContentHandler* target) noexcept : m_target(target) {}
    virtual ~CSaxForwardingHandler() = default;

    LONG m_refCount = 1;
    CComPtrEx<ISAXContentHandler> m_target;
};
