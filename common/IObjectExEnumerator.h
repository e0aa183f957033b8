#pragma once
#include "common/CObjectExPtr.h"

// Walks the items of an IObjectExEnumerable. A new enumerator stands on its first item.
class IObjectExEnumerator : public CObjectEx
{
public:
    virtual bool IsDone() = 0;
    virtual void Next() = 0;
    virtual void First() = 0;
    // A new reference to the current item, or null when done; narrow it with CObjectExQIPtr.
    virtual _CObjectExPtr<CObjectEx> Current() = 0;
};

class IObjectExEnumerable : public CObjectEx
{
public:
    virtual _CObjectExPtr<IObjectExEnumerator> GetEnumerator() = 0;
};
