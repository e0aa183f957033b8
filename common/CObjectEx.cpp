#include "common/CObjectEx.h"

const CObjectExClassInfo CObjectEx::s_classInfo = { "CObjectEx", sizeof(CObjectEx), nullptr, nullptr };

const CObjectExClassInfo* CObjectEx::GetClassInfo() const
{
    return &s_classInfo;
}
