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
// What an owner holds when it holds nothing.
struct NullIsEmpty {
    template <typename T>
    static T Value() { return nullptr; }
};
struct InvalidHandleIsEmpty {
    template <typename T>
    static T Value() { return INVALID_HANDLE_VALUE; }
};

// Traits for a value of type T released by CloseFn.
template <typename T, auto CloseFn, typename Empty = NullIsEmpty>
struct CloseTraits {
    using Type = T;
    static Type Invalid() { return Empty::template Value<T>(); }
    static void Close(Type value) { CloseFn(value); }
};
}  // namespace detail

// A process, thread or event handle is NULL when empty; a file handle INVALID_HANDLE_VALUE.
using UniqueHandle = UniqueAny<detail::CloseTraits<HANDLE, ::CloseHandle>>;
using UniqueFileHandle = UniqueAny<detail::CloseTraits<HANDLE, ::CloseHandle, detail::InvalidHandleIsEmpty>>;
using UniqueHkey = UniqueAny<detail::CloseTraits<HKEY, ::RegCloseKey>>;
using UniqueFindHandle = UniqueAny<detail::CloseTraits<HANDLE, ::FindClose, detail::InvalidHandleIsEmpty>>;
using UniqueLibrary = UniqueAny<detail::CloseTraits<HMODULE, ::FreeLibrary>>;
using UniqueSid = UniqueAny<detail::CloseTraits<PSID, ::FreeSid>>;         // from AllocateAndInitializeSid
using UniqueLocal = UniqueAny<detail::CloseTraits<HLOCAL, ::LocalFree>>;   // LocalAlloc'd memory, descriptors
using UniqueIcon = UniqueAny<detail::CloseTraits<HICON, ::DestroyIcon>>;
using UniqueGdiObject = UniqueAny<detail::CloseTraits<HGDIOBJ, ::DeleteObject>>;

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

// Balances a successful initialisation of the calling thread (CoInitialize, OleInitialize).
template <HRESULT(WINAPI* Init)(LPVOID), void(WINAPI* Uninit)()>
class InitScope {
public:
    InitScope() : hr_(Init(nullptr)) {}
    ~InitScope() {
        if (SUCCEEDED(hr_)) Uninit();
    }
    InitScope(const InitScope&) = delete;
    InitScope& operator=(const InitScope&) = delete;
    HRESULT result() const { return hr_; }
    bool ok() const { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

using ComInit = InitScope<::CoInitialize, ::CoUninitialize>;

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
