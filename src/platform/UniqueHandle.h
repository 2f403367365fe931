#pragma once

#include <windows.h>

#include <utility>

namespace platform {

// Owns one handle and closes it exactly once. Traits say what "no handle" looks like.
template <class Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;  // a copy would close twice
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::Invalid(); }
    HANDLE release() noexcept { return std::exchange(h_, Traits::Invalid()); }
    void reset(HANDLE h = Traits::Invalid()) noexcept {
        if (h_ != Traits::Invalid()) ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = Traits::Invalid();
};

struct NullIsInvalid {
    static HANDLE Invalid() noexcept { return nullptr; }
};
struct MinusOneIsInvalid {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};
using UniqueProcess = UniqueHandle<NullIsInvalid>;   // OpenProcess, CreateProcessW, CreateMutexW
using UniqueFile = UniqueHandle<MinusOneIsInvalid>;  // CreateFileW

}  // namespace platform
