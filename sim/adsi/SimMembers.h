#pragma once
#include "sim/adsi/SimComBase.h"
#include <iads.h>
#include <vector>

// The members of a group (IADsMembers) and their enumerator (IEnumVARIANT, items as
// VT_DISPATCH). Both own one reference to every member object.
class SimMembers final : public IADsMembers, private SimRefCount
{
public:
    explicit SimMembers(std::vector<IDispatch*> members) noexcept : m_members(std::move(members)) {}

    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    SIM_REFCOUNTED
    SIM_NO_LATE_BINDING

    HRESULT WINAPI get_Count(LONG* count) override;
    HRESULT WINAPI get__NewEnum(IUnknown** out) override;
    HRESULT WINAPI get_Filter(VARIANT* filter) override;
    HRESULT WINAPI put_Filter(VARIANT) override { return E_NOTIMPL; }

private:
    ~SimMembers();
    std::vector<IDispatch*> m_members;
};

class SimMemberEnum final : public IEnumVARIANT, private SimRefCount
{
public:
    SimMemberEnum(const std::vector<IDispatch*>& members, ULONG position) noexcept;

    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    SIM_REFCOUNTED

    HRESULT WINAPI Next(ULONG count, VARIANT* items, ULONG* fetched) override;
    HRESULT WINAPI Skip(ULONG count) override;
    HRESULT WINAPI Reset() override { m_position = 0; return S_OK; }
    HRESULT WINAPI Clone(IEnumVARIANT** out) override;

private:
    ~SimMemberEnum();
    std::vector<IDispatch*> m_members;
    ULONG m_position;
};
