#include "sim/signon/CSimComObject.h"
#include "sim/signon/SimModule.h"

namespace
{
LONG g_liveObjects;
}

CSimComObject::CSimComObject(const Table& table, REFIID iid) noexcept
    : m_face{table.data(), this}, m_iid(iid)
{
    SimModuleLock();
    InterlockedIncrement(&g_liveObjects);
}

CSimComObject::~CSimComObject()
{
    InterlockedDecrement(&g_liveObjects);
    SimModuleUnlock();
}

LONG CSimComObject::LiveCount() noexcept
{
    return InterlockedCompareExchange(&g_liveObjects, 0, 0);
}

ULONG CSimComObject::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG CSimComObject::Release() noexcept
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

CSimComObject::Table CSimComObject::MakeTable(UINT positions)
{
    Table table(positions, Entry(&NotImplementedEntry));
    table[0] = Entry(&QueryInterfaceEntry);
    table[1] = Entry(&AddRefEntry);
    table[2] = Entry(&ReleaseEntry);
    return table;
}

HRESULT CSimComObject::QueryInterfaceEntry(Face* face, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    // The product's interfaces are dual, so IDispatch is answered with the same face.
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, face->owner->m_iid))
    {
        *object = face;
        face->owner->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CSimComObject::AddRefEntry(Face* face)
{
    return face->owner->AddRef();
}

ULONG CSimComObject::ReleaseEntry(Face* face)
{
    return face->owner->Release();
}

HRESULT CSimComObject::NotImplementedEntry(Face*)
{
    return E_NOTIMPL;
}
