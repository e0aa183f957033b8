#include "sim/signon/CSimIdentity.h"
#include "sim/signon/CSimJournal.h"
#include "sim/signon/SimIds.h"

IUnknown* CSimIdentity::Create(const CStringEx& principal)
{
    IUnknown* identity = (new CSimIdentity(principal))->GetInterface();
    identity->AddRef();
    return identity;
}

CSimIdentity::CSimIdentity(const CStringEx& principal)
    : CSimComObject(GetTable(), signonsim::IID_Identity), m_principal(principal)
{
}

const CSimComObject::Table& CSimIdentity::GetTable()
{
    static const Table table = [] {
        Table t = MakeTable(24);
        t[17] = Entry(&GetPrincipal);
        return t;
    }();
    return table;
}

HRESULT CSimIdentity::GetPrincipal(Face* face, BSTR* principal)
{
    CSimJournal::Write(L"Identity 17");
    if (principal == nullptr)
        return E_POINTER;
    const CStringEx& text = Self<CSimIdentity>(face)->m_principal;
    *principal = SysAllocStringLen(text, static_cast<UINT>(text.GetLength()));
    return *principal ? S_OK : E_OUTOFMEMORY;
}
