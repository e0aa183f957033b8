#pragma once
#include "common/CComPtrEx.h"
#include <windows.h>
#include <oaidl.h>
#include <utility>
#include <vector>

// The COM server side of a program: counts the locks that live objects and
// IClassFactory::LockServer hold, knows the thread that serves the objects, and loads the
// program's type library once. One instance per program; objects reach it through
// Instance(). Without one (a test that creates objects directly) objects still work.
class CComModuleEx
{
public:
    CComModuleEx();
    virtual ~CComModuleEx();
    CComModuleEx(const CComModuleEx&) = delete;
    CComModuleEx& operator=(const CComModuleEx&) = delete;

    // The program's module, or null.
    static CComModuleEx* Instance() noexcept;

    virtual LONG Lock();
    virtual LONG Unlock();
    LONG GetLockCount() const noexcept { return m_lockCount; }

    // The thread whose message loop serves the objects (0 until it is known).
    DWORD GetMessageThreadId() const noexcept { return m_messageThreadId; }
    void SetMessageThreadId(DWORD threadId) noexcept { m_messageThreadId = threadId; }

    // The type information of one interface of the program's type library: resource
    // TYPELIB 1 of the running program, or else the registered library of that LIBID.
    // The library and each interface's information are loaded once and kept until
    // ReleaseTypeLibrary; the caller gets its own reference.
    HRESULT GetTypeInfo(REFGUID libid, WORD major, WORD minor, REFIID iid, ITypeInfo** info);
    // Drops the type library and every interface's information taken from it, so that
    // nothing of the library outlives COM (call it before COM is uninitialised).
    void ReleaseTypeLibrary() noexcept;

protected:
    LONG m_lockCount = 0;
    DWORD m_messageThreadId = 0;

private:
    CComPtrEx<ITypeLib> m_typeLib;
    // The information of each interface asked for, by interface ID: a program serves a
    // handful of interfaces, so a short list is searched.
    std::vector<std::pair<IID, CComPtrEx<ITypeInfo>>> m_typeInfos;
};
