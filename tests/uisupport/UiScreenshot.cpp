#include "tests/uisupport/UiScreenshot.h"
#include <wincodec.h>
#include <vector>

namespace kelvo_test
{
namespace
{
template <typename T>
struct ComRef
{
    T* p = nullptr;
    ~ComRef() { if (p) p->Release(); }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

struct ComScope
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComScope() { if (SUCCEEDED(hr)) CoUninitialize(); }
};

HRESULT WritePng(const std::wstring& path, int width, int height, std::vector<BYTE>& pixels)
{
    ComScope com;
    ComRef<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    ComRef<IWICStream> stream;
    if (SUCCEEDED(hr))
        hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    ComRef<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr))
        hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache);
    ComRef<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr))
        hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr))
        hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(hr))
        hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA))
        hr = E_NOTIMPL;
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width) * 4,
                                static_cast<UINT>(pixels.size()), pixels.data());
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    return hr;
}
}

// The window's pixels, top-down BGRA; false when it has no area or cannot be painted.
bool CaptureWindow(HWND window, int& width, int& height, std::vector<BYTE>& pixels)
{
    RECT rect = {};
    if (!GetWindowRect(window, &rect))
        return false;
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory && bitmap)
    {
        HGDIOBJ old = SelectObject(memory, bitmap);
        // A shown window is copied from its own surface, children and frame included; a
        // hidden one is asked to print itself.
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        if (IsWindowVisible(window))
        {
            HDC source = GetWindowDC(window);
            ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
            ReleaseDC(window, source);
        }
        if (!ok)
            ok = PrintWindow(window, memory, 0) != FALSE;
        GdiFlush();
        if (ok)
        {
            pixels.assign(static_cast<const BYTE*>(bits), static_cast<const BYTE*>(bits) + size_t(width) * height * 4);
            // The alpha byte is undefined after GDI drawing: make every pixel opaque.
            for (size_t i = 3; i < pixels.size(); i += 4)
                pixels[i] = 0xFF;
        }
        SelectObject(memory, old);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::wstring ScreenshotFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    // <build>\bin\test.exe -> <build>\test-output\screenshots
    for (int i = 0; i < 2; ++i)
    {
        const size_t slash = folder.find_last_of(L'\\');
        if (slash != std::wstring::npos)
            folder.resize(slash);
    }
    folder += L"\\test-output";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring SaveWindowScreenshot(HWND window, const wchar_t* name)
{
    int width = 0, height = 0;
    std::vector<BYTE> pixels;
    if (!CaptureWindow(window, width, height, pixels))
        return std::wstring();
    const std::wstring path = ScreenshotFolder() + L"\\" + name + L".png";
    return SUCCEEDED(WritePng(path, width, height, pixels)) ? path : std::wstring();
}
}
