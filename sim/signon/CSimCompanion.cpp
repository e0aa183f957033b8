#include "sim/signon/CSimCompanion.h"
#include "sim/signon/CSimJournal.h"
#include "sim/signon/SimIds.h"

IUnknown* CSimCompanion::Create()
{
    CSimJournal::Write(L"Companion new");
    IUnknown* companion = (new CSimCompanion())->GetInterface();
    companion->AddRef();
    return companion;
}

CSimCompanion::CSimCompanion() : CSimComObject(GetTable(), signonsim::IID_Companion)
{
}

const CSimComObject::Table& CSimCompanion::GetTable()
{
    static const Table table = MakeTable(24);
    return table;
}
