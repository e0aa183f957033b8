#pragma once
#include "cartlink/CEndpointSession.h"
#include <string>

// Hands out the endpoint session object for the current process: it tries the registered
// session kinds, the one registered last first, and returns the first that says it is current.
//
// A program chooses its kinds by declaring TEndpointSessionRegistration objects at namespace
// scope, in one source file, in the reverse of the order they are to be tried. The agent:
//
//     static const TEndpointSessionRegistration<CRdpSession> s_rdpSession;
//     static const TEndpointSessionRegistration<CCtxSession> s_ctxSession;
//     static const TEndpointSessionRegistration<CConsoleSession> s_consoleSession;
//
// (tried: console, Citrix, Remote Desktop); the other programs declare only the console kind.
// Declaring them in the program itself, rather than beside each kind in this static library,
// does two things: the reference to the kind's class record makes the linker keep the kind's
// code, which it would drop if nothing but a registration in the library named it; and
// objects of one source file are constructed in the order written, so the search order is
// fixed where it is written, before the program's entry point runs.
class CEndpointSessionFactory : public CObjectEx
{
public:
    // The session object for the current process, or an empty reference when no kind matches.
    static _CObjectExPtr<CEndpointSession> CreateSession();

    // Pushes a kind onto the head of the registration list, so it is tried before every kind
    // registered earlier. FALSE for a record without a creator or a kind already registered.
    static BOOL Register(const CObjectExClassInfo* classInfo) noexcept;

    // The process-wide factory's destructor frees the registration list at exit.
    ~CEndpointSessionFactory() override;
    CEndpointSessionFactory(const CEndpointSessionFactory&) = delete;
    CEndpointSessionFactory& operator=(const CEndpointSessionFactory&) = delete;

private:
    CEndpointSessionFactory() noexcept = default;

    struct Record
    {
        std::string name;
        DWORD size;
        CObjectEx* (*creator)();
        Record* next;
    };

    static Record* s_head;
    // The one factory; it owns the registration list for the life of the process.
    static CEndpointSessionFactory s_instance;
};

// Registers the session kind TKind during static initialisation.
template <class TKind>
class TEndpointSessionRegistration
{
public:
    TEndpointSessionRegistration() noexcept { CEndpointSessionFactory::Register(&TKind::s_classInfo); }
};
