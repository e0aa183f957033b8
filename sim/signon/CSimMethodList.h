#pragma once
#include "sim/signon/CSimComObject.h"
#include "common/CStringEx.h"

// Authentication methods of the sign-in: method 9 answers the count, method 8 the item at
// an index from 1 as a decimal text. Items configured to fail answer E_FAIL.
class CSimMethodList : public CSimComObject
{
public:
    // A new object with its first reference handed to the caller.
    static IUnknown* Create(const std::vector<CStringEx>& items, const std::vector<LONG>& failedItems);

private:
    CSimMethodList(const std::vector<CStringEx>& items, const std::vector<LONG>& failedItems);
    static HRESULT STDMETHODCALLTYPE GetItem(Face* face, LONG index, BSTR* item);
    static HRESULT STDMETHODCALLTYPE GetCount(Face* face, LONG* count);
    static const Table& GetTable();

    std::vector<CStringEx> m_items;
    std::vector<LONG> m_failedItems;
};
