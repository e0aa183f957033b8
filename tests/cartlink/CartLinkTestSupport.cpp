#include "CartLinkTestSupport.h"
#include "common/CResourceLoader.h"

std::atomic<LONG> g_liveCounted{0};

namespace
{
const wchar_t kWindowClass[] = L"KelvoCartLinkTestWindow";

void RegisterClassOnce()
{
    static const ATOM atom = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassW(&windowClass);
    }();
    (void)atom;
}
}

CTestWindow::CTestWindow()
{
    RegisterClassOnce();
    m_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                               nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc));
}

CTestWindow::~CTestWindow()
{
    Destroy();
}

void CTestWindow::Destroy()
{
    if (m_window)
    {
        // Whatever is still queued for the window is taken over before it goes.
        Pump(0);
        DestroyWindow(m_window);
        m_window = nullptr;
    }
}

LRESULT CALLBACK CTestWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CTestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message >= WM_USER && message < 0x8000)
    {
        Posted posted{message, wParam, lParam, nullptr, 0, GetTickCount()};
        if (lParam)
        {
            posted.object.Attach(reinterpret_cast<CObjectEx*>(lParam));
            posted.refCountOnArrival = posted.object->GetRefCount();
        }
        self->m_posted.push_back(std::move(posted));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CTestWindow::Pump(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

bool CTestWindow::WaitFor(UINT message, size_t count, DWORD timeoutMs)
{
    return WaitUntil([&] { return Count(message) >= count; }, timeoutMs);
}

std::vector<CTestWindow::Posted> CTestWindow::Received(UINT message) const
{
    std::vector<Posted> found;
    for (const Posted& posted : m_posted)
        if (posted.message == message)
            found.push_back(posted);
    return found;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

double NowMs()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency);
}

void CartFixture::SetUp()
{
    CResourceLoader::Instance().Load();
    g_liveCounted = 0;
    m_devices = MakeObjectEx<CKelvoSimHidDevices>();
    CKelvoUSBCommStaticData::Instance().SetHidDevices(m_devices);
    CKelvoUSBCommStaticData::Instance().ClearSupportedDevices();
    CKelvoUSBComm::LoadSupportedDevices({L"HID\\VID_0B6A&PID_0417"});
    m_cart = AddCart(kCartVendor, kCartProduct);
    CCartUSBComm::SetDevicePath(m_cart->GetDevicePath());
}

void CartFixture::TearDown()
{
    for (auto& cart : m_carts)
        cart->Stop();
    CKelvoUSBCommStaticData::Instance().SetHidDevices(nullptr);
    CKelvoUSBCommStaticData::Instance().ClearSupportedDevices();
    CCartUSBComm::SetDevicePath(L"");
}

_CObjectExPtr<CKelvoCartSimulator> CartFixture::AddCart(USHORT vendor, USHORT product)
{
    auto cart = MakeObjectEx<CKelvoCartSimulator>(vendor, product);
    EXPECT_EQ(0u, cart->Start());
    m_devices->Add(cart);
    m_carts.push_back(cart);
    return cart;
}
