// Small move-only owners for Windows resources, in the manner of WIL's unique_any.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace orlyn {

// Traits: `Type`, `Invalid()` and `Close(Type)`.
template <typename Traits>
class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueAny(Type value) noexcept : value_(value) {}
    ~UniqueAny() { reset(); }

    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    void reset(Type value = Traits::Invalid()) noexcept {
        if (valid()) Traits::Close(value_);
        value_ = value;
    }
    [[nodiscard]] Type release() noexcept {
        Type v = value_;
        value_ = Traits::Invalid();
        return v;
    }
    // Frees the current value, then hands out the address for an out-parameter.
    Type* put() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_;
};

namespace detail {
struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct HkeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
struct LibraryTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};
struct SidTraits {
    using Type = PSID;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeSid(h); }
};
struct LocalTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::LocalFree(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DestroyIcon(h); }
};
struct GdiTraits {
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};
}  // namespace detail

using UniqueHandle = UniqueAny<detail::HandleTraits>;          // NULL when empty
using UniqueFileHandle = UniqueAny<detail::FileHandleTraits>;  // INVALID_HANDLE_VALUE when empty
using UniqueHkey = UniqueAny<detail::HkeyTraits>;
using UniqueFindHandle = UniqueAny<detail::FindTraits>;
using UniqueLibrary = UniqueAny<detail::LibraryTraits>;
using UniqueSid = UniqueAny<detail::SidTraits>;                // from AllocateAndInitializeSid
using UniqueLocal = UniqueAny<detail::LocalTraits>;            // LocalAlloc'd memory, security descriptors
using UniqueIcon = UniqueAny<detail::IconTraits>;
using UniqueGdiObject = UniqueAny<detail::GdiTraits>;

// Typed view of LocalAlloc'd memory (for example a descriptor from GetNamedSecurityInfoW).
template <typename T>
T* LocalAs(const UniqueLocal& local) {
    return static_cast<T*>(local.get());
}

// Minimal COM smart pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr& operator=(const ComPtr& other) noexcept {
        if (this != &other) {
            if (other.p_) other.p_->AddRef();
            reset();
            p_ = other.p_;
        }
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // Takes a reference the caller already owns.
    void attach(T* p) noexcept {
        reset();
        p_ = p;
    }

    template <typename U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(__uuidof(U), out.put_void());
    }

private:
    T* p_ = nullptr;
};

// BSTR owner.
class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(const wchar_t* text) : s_(::SysAllocString(text)) {}
    ~UniqueBstr() { ::SysFreeString(s_); }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    BSTR get() const noexcept { return s_; }
    BSTR* put() noexcept {
        ::SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }

private:
    BSTR s_ = nullptr;
};

// Balances CoInitialize on the calling thread.
class ComInit {
public:
    ComInit() : hr_(::CoInitialize(nullptr)) {}
    ~ComInit() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// Enters a critical section for the scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
    ~CriticalSectionLock() { ::LeaveCriticalSection(&cs_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

}  // namespace orlyn
