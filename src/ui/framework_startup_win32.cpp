#include "ui/framework_startup_win32.h"

#include <windows.h>
#include <objidl.h>  // GDI+ needs the COM property types that a lean windows.h leaves out
#include <gdiplus.h>

#include "ui/framework_state_win32.h"

namespace kestrel::ui {

void FrameworkStartup() {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        Framework().gdiplus_token = token;
    }
}

void FrameworkShutdown() {
    // The framework keeps no shared drawing object and loads no help or image
    // library in this program, so GDI+ is all there is to stop.
    if (ULONG_PTR token = Framework().gdiplus_token; token != 0) {
        Gdiplus::GdiplusShutdown(token);
        Framework().gdiplus_token = 0;
    }
}

}  // namespace kestrel::ui
