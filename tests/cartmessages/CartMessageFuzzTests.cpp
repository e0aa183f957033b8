#include "cartlink/CCartUSBCommResponse.h"
#include <gtest/gtest.h>
#include <functional>
#include <random>
#include <vector>

namespace
{
// A buffer that ends exactly at an inaccessible page: any read past its end faults.
class GuardedBuffer
{
public:
    GuardedBuffer()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_page = info.dwPageSize;
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, m_page * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(m_base + m_page, m_page, PAGE_NOACCESS, &old);
    }
    ~GuardedBuffer() { VirtualFree(m_base, 0, MEM_RELEASE); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    // The last `length` bytes before the guard page.
    BYTE* Tail(DWORD length) { return m_base + m_page - length; }
    bool IsValid() const { return m_base != nullptr; }

private:
    BYTE* m_base = nullptr;
    DWORD m_page = 0;
};

using Factory = std::function<_CObjectExPtr<CCartUSBCommResponse>()>;

template <class T>
Factory Make()
{
    return [] { return _CObjectExPtr<CCartUSBCommResponse>(MakeObjectEx<T>()); };
}
}

// Random and truncated reports through every response class: Decode stays inside the
// report it is given and never stores more than the 20-byte payload area.
TEST(CartResponseFuzz, RandomAndTruncatedReportsNeverOverrunAnyBuffer)
{
    const std::vector<Factory> factories = {
        Make<CKelvoProtocolVerResponse>(), Make<CKelvoSerialNumberResponse>(),
        Make<CKelvoFirmwareVersionResponse>(), Make<CKelvoPollForDrawerBtnResponse>(),
        Make<CKelvoAuthDrawerAccessResponse>(), Make<CKelvoBindComputerNameResponse>(),
        Make<CKelvoBoundComputerNameResponse>(), Make<CKelvoQueryAccessResponse>(),
        Make<CKelvoQueryStatusResponse>(),
    };
    GuardedBuffer guarded;
    ASSERT_TRUE(guarded.IsValid());
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 70);

    for (int i = 0; i < 100000; ++i)
    {
        const DWORD n = static_cast<DWORD>(length(random));
        BYTE* report = guarded.Tail(n);
        for (DWORD j = 0; j < n; ++j)
            report[j] = static_cast<BYTE>(byte(random));
        // Every fourth report declares a large payload to push at the bounds.
        if (n >= 4 && i % 4 == 0)
            report[2] = 0xFF;

        auto response = factories[static_cast<size_t>(i) % factories.size()]();
        const DWORD decoded = response->Decode(report, n);
        if (n < 4)
        {
            ASSERT_EQ(0u, decoded);
            continue;
        }
        const DWORD declared = static_cast<DWORD>(report[2] | (report[3] << 8));
        const DWORD expected = 4 + (declared == 0 ? 0 : std::min({ declared, n - 4, 20ul }));
        ASSERT_EQ(expected, decoded) << "report " << i;
        ASSERT_LE(decoded, 24u);

        // Encoding back gives at most the header and 20 payload bytes, equal to what arrived.
        BYTE out[64 + 8];
        memset(out, 0xCD, sizeof out);
        const DWORD encoded = response->Encode(out, 64);
        ASSERT_LE(encoded, 24u);
        ASSERT_EQ(0, memcmp(out, report, std::min(encoded, decoded)));
        ASSERT_EQ(0xCD, out[64]);
    }
}
