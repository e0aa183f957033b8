#pragma once
#include "sim/signon/CSimComObject.h"
#include "common/CStringEx.h"

// Identity of the signed-in user: method 17 answers the principal as a BSTR.
class CSimIdentity : public CSimComObject
{
public:
    // A new object with its first reference handed to the caller.
    static IUnknown* Create(const CStringEx& principal);

private:
    explicit CSimIdentity(const CStringEx& principal);
    static HRESULT STDMETHODCALLTYPE GetPrincipal(Face* face, BSTR* principal);
    static const Table& GetTable();

    CStringEx m_principal;
};
