#pragma once
#include <windows.h>

// Scoped exclusive hold of a slim reader/writer lock, for short reads and writes of
// shared cart-link state. Never held across an exchange.
class CKelvoSrwLockHold
{
public:
    explicit CKelvoSrwLockHold(SRWLOCK& lock) noexcept : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~CKelvoSrwLockHold() { ReleaseSRWLockExclusive(&m_lock); }
    CKelvoSrwLockHold(const CKelvoSrwLockHold&) = delete;
    CKelvoSrwLockHold& operator=(const CKelvoSrwLockHold&) = delete;

private:
    SRWLOCK& m_lock;
};
