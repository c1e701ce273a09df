// A counted reference to a COM interface, released when it goes out of scope.
#pragma once

#include <utility>

#ifdef _WIN32
#include <objbase.h>
#else
#include "com/unknown.h"
#endif

namespace avs::com {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) {  // NOLINT: takes a new reference
        if (p_ != nullptr) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    // Adopts a pointer that already carries a reference.
    static ComPtr Adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    void Reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases the current pointer first.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    T* Detach() { return std::exchange(p_, nullptr); }
    template <typename U>
    ComPtr<U> As(REFIID iid) const {
        ComPtr<U> out;
        if (p_ != nullptr) p_->QueryInterface(iid, out.PutVoid());
        return out;
    }

  private:
    T* p_ = nullptr;
};

}  // namespace avs::com
