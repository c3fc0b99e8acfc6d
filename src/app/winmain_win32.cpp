// The program's entry point: the platform's component layer around the session.
#include <windows.h>
#include <ole2.h>

#include "app/main_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const HRESULT ole = OleInitialize(nullptr);
    kestrel::app::MAIN();
    if (SUCCEEDED(ole)) {
        OleUninitialize();
    }
    return 0;
}
