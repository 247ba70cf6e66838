#include "framework/app.h"

#include <commctrl.h>

namespace fw {

namespace {
App* g_app = nullptr;
}

App::App() { g_app = this; }

App::~App() {
    if (g_app == this) g_app = nullptr;
}

App* App::Current() { return g_app; }

int App::Run(HINSTANCE instance) {
    instance_ = instance;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    if (!InitInstance()) return 0;
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace fw
