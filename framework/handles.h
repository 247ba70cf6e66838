// Move-only owners for Win32 handles, one typedef per kind of handle.
#pragma once

#include <windows.h>

#include <utility>

namespace fw {

// Owns one resource described by Traits: its type, its "no resource" value and
// how to release it. get/reset/release follow the usual smart-handle shape.
template <typename Traits>
class UniqueAny {
public:
    using pointer = typename Traits::Type;

    UniqueAny() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueAny(pointer value) noexcept : value_(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    void reset(pointer value = Traits::Invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    // For APIs that return the handle through an out parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_;
};

namespace traits {
struct Handle {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct File {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct Find {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
struct Key {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};
struct Module {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};
struct Dc {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteDC(h); }
};
template <typename T>
struct GdiObject {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};
struct Icon {
    using Type = HICON;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DestroyIcon(h); }
};
// A timer of the default timer queue; closing waits for a callback in
// progress, which may still use what the timer was given.
struct QueueTimer {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteTimerQueueTimer(nullptr, h, INVALID_HANDLE_VALUE); }
};
}  // namespace traits

using UniqueHandle = UniqueAny<traits::Handle>;  // process, thread, event, mutex
using UniqueFile = UniqueAny<traits::File>;
using UniqueFind = UniqueAny<traits::Find>;
using UniqueKey = UniqueAny<traits::Key>;
using UniqueModule = UniqueAny<traits::Module>;
using UniqueDc = UniqueAny<traits::Dc>;  // memory and created DCs
using UniqueFont = UniqueAny<traits::GdiObject<HFONT>>;
using UniqueBrush = UniqueAny<traits::GdiObject<HBRUSH>>;
using UniqueBitmap = UniqueAny<traits::GdiObject<HBITMAP>>;
using UniqueRegion = UniqueAny<traits::GdiObject<HRGN>>;
using UniqueQueueTimer = UniqueAny<traits::QueueTimer>;
using UniqueIcon = UniqueAny<traits::Icon>;

// A DC obtained with GetDC/GetWindowDC, released to its window.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects a GDI object into a DC and puts the previous one back when it ends.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    SelectGuard(SelectGuard&& other) noexcept
        : dc_(std::exchange(other.dc_, nullptr)), old_(std::exchange(other.old_, nullptr)) {}
    ~SelectGuard() {
        if (dc_ && old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

}  // namespace fw
