// Owners for the few Windows handles the installer holds; each knows its own invalid value.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() = default;
    explicit UniqueResource(Handle handle) : handle_(handle) {}
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    Handle Get() const { return handle_; }
    bool IsValid() const { return handle_ != Traits::Invalid(); }
    Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Handle handle = Traits::Invalid()) {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

private:
    Handle handle_ = Traits::Invalid();
};

// Process and thread handles: NULL when CreateProcess or OpenProcess fails.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// Files: INVALID_HANDLE_VALUE when CreateFile fails.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueFile = UniqueResource<FileHandleTraits>;

// Folder searches: INVALID_HANDLE_VALUE when FindFirstFile fails, and ended by FindClose.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::FindClose(handle); }
};
using UniqueFind = UniqueResource<FindHandleTraits>;

struct FontTraits {
    using Handle = HFONT;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DeleteObject(handle); }
};
using UniqueFont = UniqueResource<FontTraits>;

// A window's device context with a font selected into it, both given back at the end.
class WindowDcWithFont {
public:
    WindowDcWithFont(HWND window, HFONT font)
        : window_(window),
          dc_(::GetDC(window)),
          oldFont_(dc_ ? ::SelectObject(dc_, font) : nullptr) {}
    WindowDcWithFont(const WindowDcWithFont&) = delete;
    WindowDcWithFont& operator=(const WindowDcWithFont&) = delete;
    ~WindowDcWithFont() {
        if (dc_ != nullptr) {
            ::SelectObject(dc_, oldFont_);
            ::ReleaseDC(window_, dc_);
        }
    }
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
    HGDIOBJ oldFont_;
};

}  // namespace win32
