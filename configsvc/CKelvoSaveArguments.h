#pragma once
#include <windows.h>
#include <oaidl.h>

// The texts of a save request, checked on their whole length before anything else looks at
// them: what the service then uses as a C string is the whole BSTR, never the part before
// a NUL, and nothing large is parsed.
class CKelvoSaveArguments
{
public:
    // The longest account or domain name a request may carry (the longest name Windows
    // accounts have is 256 characters).
    static constexpr UINT kMaxNameLength = 256;
    // The largest document the service parses: 262,144 characters (256 KB of plain text).
    // An agent's configuration is a few kilobytes; a document of this size costs the
    // service's one COM thread a fraction of a second, a larger one is refused unparsed.
    static constexpr UINT kMaxDocumentLength = 256 * 1024;

    // S_OK when every text holds no NUL inside its length and the names and the document
    // are within their limits; E_INVALIDARG (logged with the reason) otherwise. A null BSTR
    // is an empty text.
    static HRESULT Check(BSTR userName, BSTR domainName, BSTR fileName, BSTR xml);

    // Whether text holds a NUL inside its length; position is then that NUL's index.
    static bool HasInnerNul(BSTR text, UINT& position) noexcept;
};
