#include "sim/signon/CSimMethodList.h"
#include "sim/signon/CSimJournal.h"
#include "sim/signon/SimIds.h"
#include <algorithm>

IUnknown* CSimMethodList::Create(const std::vector<CStringEx>& items, const std::vector<LONG>& failedItems)
{
    IUnknown* list = (new CSimMethodList(items, failedItems))->GetInterface();
    list->AddRef();
    return list;
}

CSimMethodList::CSimMethodList(const std::vector<CStringEx>& items, const std::vector<LONG>& failedItems)
    : CSimComObject(GetTable(), signonsim::IID_MethodList), m_items(items), m_failedItems(failedItems)
{
}

const CSimComObject::Table& CSimMethodList::GetTable()
{
    static const Table table = [] {
        Table t = MakeTable(16);
        t[8] = Entry(&GetItem);
        t[9] = Entry(&GetCount);
        return t;
    }();
    return table;
}

HRESULT CSimMethodList::GetItem(Face* face, LONG index, BSTR* item)
{
    CSimJournal::Write(L"MethodList 8 %ld", index);
    if (item == nullptr)
        return E_POINTER;
    *item = nullptr;
    const CSimMethodList* self = Self<CSimMethodList>(face);
    if (index < 1 || static_cast<size_t>(index) > self->m_items.size())
        return E_INVALIDARG;
    if (std::find(self->m_failedItems.begin(), self->m_failedItems.end(), index) != self->m_failedItems.end())
        return E_FAIL;
    const CStringEx& text = self->m_items[static_cast<size_t>(index - 1)];
    *item = SysAllocStringLen(text, static_cast<UINT>(text.GetLength()));
    return *item ? S_OK : E_OUTOFMEMORY;
}

HRESULT CSimMethodList::GetCount(Face* face, LONG* count)
{
    CSimJournal::Write(L"MethodList 9");
    if (count == nullptr)
        return E_POINTER;
    *count = static_cast<LONG>(Self<CSimMethodList>(face)->m_items.size());
    return S_OK;
}
