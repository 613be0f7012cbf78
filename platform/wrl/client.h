// Microsoft::WRL::ComPtr: an interface pointer that releases what it holds, so that a COM
// reference is let go on every path out of a function. The part of the SDK's class that talrec
// uses: Get, GetAddressOf, ReleaseAndGetAddressOf, Attach, Detach, Reset, CopyTo, Swap. Not
// thread-safe, as the SDK's is not: one thread uses one ComPtr at a time.
#pragma once

#ifdef _WIN32
#include <wrl/client.h>
#else
#include <utility>

#include "platform/unknwn.h"

namespace Microsoft::WRL {

template <class T>
class ComPtr {
  public:
    using InterfaceType = T;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own.
    ComPtr(T* other) noexcept : ptr_(other) { InternalAddRef(); }
    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) { InternalAddRef(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~ComPtr() { InternalRelease(); }

    ComPtr& operator=(ComPtr other) noexcept {
        Swap(other);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        InternalRelease();
        return *this;
    }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // For an out parameter: the held pointer's address, what it holds kept.
    T* const* GetAddressOf() const noexcept { return &ptr_; }
    T** GetAddressOf() noexcept { return &ptr_; }
    // For an out parameter that replaces what is held: releases it first.
    T** ReleaseAndGetAddressOf() noexcept {
        InternalRelease();
        return &ptr_;
    }

    // Takes over `other`'s reference, without adding one.
    void Attach(T* other) noexcept {
        InternalRelease();
        ptr_ = other;
    }
    // Gives up the reference to the caller.
    T* Detach() noexcept { return std::exchange(ptr_, nullptr); }
    // Releases what is held; returns the count Release gave, 0 when nothing was held.
    unsigned long Reset() noexcept { return InternalRelease(); }
    // Hands the caller a reference of its own.
    HRESULT CopyTo(T** target) const noexcept {
        InternalAddRef();
        *target = ptr_;
        return S_OK;
    }
    void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

  private:
    void InternalAddRef() const noexcept {
        if (ptr_ != nullptr) ptr_->AddRef();
    }
    unsigned long InternalRelease() noexcept {
        T* held = std::exchange(ptr_, nullptr);  // cleared first: Release may reenter
        return held != nullptr ? held->Release() : 0;
    }

    T* ptr_ = nullptr;
};

}  // namespace Microsoft::WRL

#endif  // _WIN32
