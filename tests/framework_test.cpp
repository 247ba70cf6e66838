// The thin application layer: handle owners, worker threads, the modal
// dialog's message filter and the reflection of parent messages to bound
// controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "framework/control.h"
#include "framework/dialog.h"
#include "framework/handles.h"
#include "framework/thread.h"
#include "tests/support/test_support.h"

namespace {

bool IsOpenHandle(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != 0;
}

TEST(Handles, OwnerClosesOnResetAndMoveTransfersOwnership) {
    HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    fw::UniqueHandle first(raw);
    fw::UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    EXPECT_TRUE(IsOpenHandle(raw));

    fw::UniqueHandle third;
    third = std::move(second);
    EXPECT_TRUE(IsOpenHandle(raw));
    third.reset();
    EXPECT_FALSE(IsOpenHandle(raw));

    HANDLE kept = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        fw::UniqueHandle owner(kept);
        EXPECT_EQ(owner.release(), kept);
    }
    EXPECT_TRUE(IsOpenHandle(kept));
    ::CloseHandle(kept);

    fw::UniqueFile file;  // INVALID_HANDLE_VALUE is its empty value, not null
    EXPECT_FALSE(file);
    EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

TEST(Handles, SelectGuardPutsThePreviousObjectBack) {
    fw::UniqueDc dc(::CreateCompatibleDC(nullptr));
    fw::UniqueBrush brush(::CreateSolidBrush(RGB(1, 2, 3)));
    HGDIOBJ before = ::GetCurrentObject(dc.get(), OBJ_BRUSH);
    {
        fw::SelectGuard guard(dc.get(), brush.get());
        EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_BRUSH), brush.get());
    }
    EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_BRUSH), before);
}

unsigned __stdcall Worker(void* argument) {
    *static_cast<DWORD*>(argument) = ::GetCurrentThreadId();
    return 7;
}

TEST(WorkerThread, RunsWithItsArgumentAndCanBeWaitedFor) {
    DWORD seen = 0;
    fw::WorkerThread thread = fw::StartWorkerThread(Worker, &seen);
    ASSERT_TRUE(thread.handle);
    ASSERT_EQ(::WaitForSingleObject(thread.handle.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(seen, thread.id);
    DWORD code = 0;
    ::GetExitCodeThread(thread.handle.get(), &code);
    EXPECT_EQ(code, 7u);
}

constexpr UINT kFinish = WM_APP + 1;

// Records what reaches it reflected from the dialog.
class RecordingControl : public fw::Control {
public:
    std::vector<UINT> reflected;
    std::vector<WORD> notifications;
    HBRUSH brush = ::CreateSolidBrush(RGB(10, 20, 30));
    ~RecordingControl() override { ::DeleteObject(brush); }

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case fw::kReflectBase + WM_CTLCOLORSTATIC:
        case fw::kReflectBase + WM_CTLCOLORBTN:
            reflected.push_back(message - fw::kReflectBase);
            return reinterpret_cast<LRESULT>(brush);
        case fw::kReflectBase + WM_DRAWITEM:
            reflected.push_back(message - fw::kReflectBase);
            return TRUE;
        case fw::kReflectBase + WM_COMMAND:
            notifications.push_back(HIWORD(wParam));
            return 0;
        }
        return Default(message, wParam, lParam);
    }
};

class TestDialog : public fw::Dialog {
public:
    bool swallowEscape = false;
    RecordingControl label, drawn, push;
    HBRUSH labelBrushAnswer = nullptr;

    TestDialog() : fw::Dialog(200, nullptr) {}

protected:
    BOOL OnInitDialog() override {
        label.Attach(Handle(), 10);
        drawn.Attach(Handle(), 11);
        push.Attach(Handle(), 12);
        ::ShowWindow(Handle(), SW_SHOW);
        ::UpdateWindow(Handle());
        HDC dc = ::GetDC(label.Handle());
        labelBrushAnswer = reinterpret_cast<HBRUSH>(
            ::SendMessageA(Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(label.Handle())));
        ::ReleaseDC(label.Handle(), dc);
        ::SendMessageA(push.Handle(), BM_CLICK, 0, 0);
        ::PostMessageA(Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
        ::PostMessageA(Handle(), kFinish, 0, 0);
        return TRUE;
    }

    bool PreTranslateMessage(MSG* msg) override {
        return swallowEscape && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE;
    }

    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case kFinish:
            EndDialog(42);
            return TRUE;
        }
        return fw::Dialog::OnMessage(message, wParam, lParam);
    }
};

TEST(Dialog, ReflectsColourDrawAndCommandMessagesToBoundControls) {
    TestDialog dialog;
    dialog.swallowEscape = true;
    ASSERT_EQ(dialog.DoModal(), 42);

    EXPECT_EQ(dialog.labelBrushAnswer, dialog.label.brush) << "the control's brush is the dialog's answer";
    EXPECT_NE(std::find(dialog.drawn.reflected.begin(), dialog.drawn.reflected.end(), UINT(WM_DRAWITEM)),
              dialog.drawn.reflected.end());
    EXPECT_EQ(dialog.push.notifications, std::vector<WORD>{BN_CLICKED});
    EXPECT_TRUE(dialog.label.notifications.empty());
}

TEST(Dialog, PreTranslateMessageDecidesWhetherEscapeCloses) {
    TestDialog swallowing;
    swallowing.swallowEscape = true;
    EXPECT_EQ(swallowing.DoModal(), 42);

    TestDialog plain;
    EXPECT_EQ(plain.DoModal(), IDCANCEL) << "without the filter, Escape ends the dialog";
}

}  // namespace

namespace {

TEST(TestSupport, MessageBoxAnswererPressesTheButtonOfTheBoxWithItsTitle) {
    kxtest::MessageBoxAnswerer answerer("kxscan test question", IDNO);
    EXPECT_EQ(::MessageBoxA(nullptr, "Stop the scan?", "kxscan test question", MB_YESNO | MB_ICONEXCLAMATION), IDNO);
    EXPECT_TRUE(answerer.Answered());
    EXPECT_EQ(answerer.Text(), "Stop the scan?");
}

}  // namespace
