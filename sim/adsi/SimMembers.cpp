#include "sim/adsi/SimMembers.h"

SimMembers::~SimMembers()
{
    for (IDispatch* member : m_members)
        member->Release();
}

HRESULT SimMembers::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IADsMembers)
        return E_NOINTERFACE;
    *out = static_cast<IADsMembers*>(this);
    AddRef();
    return S_OK;
}

HRESULT SimMembers::get_Count(LONG* count)
{
    if (!count)
        return E_POINTER;
    *count = static_cast<LONG>(m_members.size());
    return S_OK;
}

HRESULT SimMembers::get__NewEnum(IUnknown** out)
{
    if (!out)
        return E_POINTER;
    *out = new SimMemberEnum(m_members, 0);
    return S_OK;
}

HRESULT SimMembers::get_Filter(VARIANT* filter)
{
    if (!filter)
        return E_POINTER;
    VariantInit(filter);
    return S_OK;
}

SimMemberEnum::SimMemberEnum(const std::vector<IDispatch*>& members, ULONG position) noexcept
    : m_members(members), m_position(position)
{
    for (IDispatch* member : m_members)
        member->AddRef();
}

SimMemberEnum::~SimMemberEnum()
{
    for (IDispatch* member : m_members)
        member->Release();
}

HRESULT SimMemberEnum::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IEnumVARIANT)
        return E_NOINTERFACE;
    *out = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
}

HRESULT SimMemberEnum::Next(ULONG count, VARIANT* items, ULONG* fetched)
{
    if (!items || (count > 1 && !fetched))
        return E_POINTER;
    ULONG n = 0;
    while (n < count && m_position < m_members.size())
    {
        VariantInit(&items[n]);
        V_VT(&items[n]) = VT_DISPATCH;
        V_DISPATCH(&items[n]) = m_members[m_position++];
        V_DISPATCH(&items[n])->AddRef();
        ++n;
    }
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT SimMemberEnum::Skip(ULONG count)
{
    const ULONG left = static_cast<ULONG>(m_members.size()) - m_position;
    m_position += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
}

HRESULT SimMemberEnum::Clone(IEnumVARIANT** out)
{
    if (!out)
        return E_POINTER;
    *out = new SimMemberEnum(m_members, m_position);
    return S_OK;
}
