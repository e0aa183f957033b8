#pragma once
#include "cartlink/CKelvoUSBComm.h"
#include "cartlink/CKelvoUSBCommStaticData.h"
#include "sim/cart/CKelvoCartSimulator.h"
#include "sim/cart/CKelvoSimHidDevices.h"
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <utility>
#include <vector>

constexpr USHORT kCartVendor = 0x0B6A;
constexpr USHORT kCartProduct = 0x0417;

// Readable failure messages for the library's strings.
inline void PrintTo(const CStringEx& text, std::ostream* out)
{
    *out << '"';
    for (wchar_t c : text.Str())
        *out << (c < 128 ? static_cast<char>(c) : '?');
    *out << '"';
}

// Live objects of the counted test classes: every posted object must end up released once.
extern std::atomic<LONG> g_liveCounted;

template <class T>
class TCounted : public T
{
public:
    template <class... Args>
    explicit TCounted(Args&&... args) : T(std::forward<Args>(args)...) { ++g_liveCounted; }
    ~TCounted() override { --g_liveCounted; }
};

using CCountedEndAccessRequest = TCounted<TKelvoUSBCommRequest<KELVO_CMD_END_ACCESS>>;

// A message-only window on the test's thread that records what is posted to it. Objects
// carried in lParam of WM_USER messages are taken over (released when the record goes).
class CTestWindow
{
public:
    struct Posted
    {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        _CObjectExPtr<CObjectEx> object;
        LONG refCountOnArrival;
        DWORD tick;
    };

    CTestWindow();
    ~CTestWindow();
    CTestWindow(const CTestWindow&) = delete;
    CTestWindow& operator=(const CTestWindow&) = delete;

    HWND Get() const { return m_window; }
    void Destroy();
    // Pumps until `message` has arrived `count` times in all, or the time is up.
    bool WaitFor(UINT message, size_t count, DWORD timeoutMs);
    void Pump(DWORD milliseconds);
    std::vector<Posted> Received(UINT message) const;
    size_t Count(UINT message) const { return Received(message).size(); }
    void Clear() { m_posted.clear(); }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
    std::vector<Posted> m_posted;
};

// One simulated cart, listed as the machine's only HID device and configured as supported.
class CartFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    _CObjectExPtr<CKelvoCartSimulator> AddCart(USHORT vendor, USHORT product);

    _CObjectExPtr<CKelvoSimHidDevices> m_devices;
    _CObjectExPtr<CKelvoCartSimulator> m_cart;
    std::vector<_CObjectExPtr<CKelvoCartSimulator>> m_carts;
};

// Waits until the condition holds or the time is up, pumping this thread's messages.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// Milliseconds since an arbitrary start, with sub-millisecond resolution.
double NowMs();
