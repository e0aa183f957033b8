#pragma once
#include <windows.h>

class CObjectEx;

// Static description of a class: its name, size, how to make one, and its base.
struct CObjectExClassInfo
{
    const char* name;
    DWORD size;
    CObjectEx* (*creator)();
    const CObjectExClassInfo* base;
};

// Reference-counted base of every library object, cart message and posted object.
// An object starts with count 0 and becomes owned when the first smart pointer takes it;
// whoever drops the count from 1 to 0 deletes it through the virtual destructor.
class CObjectEx
{
public:
    CObjectEx() noexcept : m_refCount(0) {}
    // A copy is a new object: it starts unowned, whatever the source's count is.
    CObjectEx(const CObjectEx&) noexcept : m_refCount(0) {}
    CObjectEx& operator=(const CObjectEx&) noexcept { return *this; }

    virtual const CObjectExClassInfo* GetClassInfo() const;
    virtual ~CObjectEx() = default;

    LONG AddRef() noexcept { return InterlockedIncrement(&m_refCount); }
    LONG Release() noexcept
    {
        const LONG count = InterlockedDecrement(&m_refCount);
        if (count == 0)
            delete this;
        return count;
    }
    // For diagnostics and tests; the value may change at once on other threads.
    LONG GetRefCount() const noexcept { return InterlockedCompareExchange(const_cast<LONG*>(&m_refCount), 0, 0); }

    static const CObjectExClassInfo s_classInfo;

private:
    LONG m_refCount;
};
