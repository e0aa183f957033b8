#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Screenshots of windows for the GUI tests: the window (frame and children) is painted into
// a 32-bit bitmap with PrintWindow and written as PNG through WIC into the build's test
// output folder, <build>/test-output/screenshots (beside the bin folder of the test program),
// never into the sources.
namespace kelvo_test
{
// The window's pixels as shown (frame and children), top-down BGRA with every pixel opaque;
// false when it has no area or cannot be painted.
bool CaptureWindow(HWND window, int& width, int& height, std::vector<BYTE>& pixels);
// The folder screenshots go to, created on first use (no trailing backslash).
std::wstring ScreenshotFolder();
// Writes <folder>\<name>.png of the window. Returns the file's full path, or an empty
// string when the window could not be captured or the file not written.
std::wstring SaveWindowScreenshot(HWND window, const wchar_t* name);
}
