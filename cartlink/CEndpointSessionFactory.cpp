#include "cartlink/CEndpointSessionFactory.h"
#include <cstring>
#include <new>

// Constant-initialised, so registrations made by other files' static objects find it ready
// whatever order the files are initialised in.
CEndpointSessionFactory::Record* CEndpointSessionFactory::s_head = nullptr;

CEndpointSessionFactory CEndpointSessionFactory::s_instance;

BOOL CEndpointSessionFactory::Register(const CObjectExClassInfo* classInfo) noexcept
{
    if (classInfo == nullptr || classInfo->creator == nullptr || classInfo->name == nullptr)
        return FALSE;
    Record* record = nullptr;
    try
    {
        record = new Record{ classInfo->name, classInfo->size, classInfo->creator, nullptr };
    }
    catch (...)
    {
        return FALSE;
    }
    // Push onto the head; a kind already on the list keeps its place.
    for (;;)
    {
        Record* head = static_cast<Record*>(InterlockedCompareExchangePointer(
            reinterpret_cast<PVOID*>(&s_head), nullptr, nullptr));
        for (const Record* r = head; r; r = r->next)
        {
            if (r->name == record->name)
            {
                delete record;
                return FALSE;
            }
        }
        record->next = head;
        if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID*>(&s_head), record, head) == head)
            return TRUE;
    }
}

_CObjectExPtr<CEndpointSession> CEndpointSessionFactory::CreateSession()
{
    for (const Record* record = s_head; record; record = record->next)
    {
        _CObjectExPtr<CObjectEx> object(record->creator());
        // A kind that is not current is released here, before the next kind is tried.
        CObjectExQIPtr<CEndpointSession> session(std::move(object));
        if (session && session->IsCurrent())
            return std::move(session);
    }
    return nullptr;
}

CEndpointSessionFactory::~CEndpointSessionFactory()
{
    Record* record = static_cast<Record*>(InterlockedExchangePointer(reinterpret_cast<PVOID*>(&s_head), nullptr));
    while (record)
    {
        Record* next = record->next;
        delete record;
        record = next;
    }
}
