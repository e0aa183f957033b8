#include "common/CQuerySearchContext.h"

const CObjectExClassInfo CQuerySearchContext::s_classInfo = { "CQuerySearchContext", sizeof(CQuerySearchContext),
                                                              nullptr, nullptr };

const CObjectExClassInfo* CQuerySearchContext::GetClassInfo() const
{
    return &s_classInfo;
}
