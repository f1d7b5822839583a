// A plane of per-block values that the loop filling it writes whole: its elements are left
// uninitialised, so that a frame's planes are not zeroed first and their pages are first
// touched by the threads that fill them.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace keying::soft {

template <class T>
struct Uninitialised : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = Uninitialised<U>;
    };
    Uninitialised() = default;
    template <class U>
    Uninitialised(const Uninitialised<U>&) noexcept {}

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
};

template <class T>
using Plane = std::vector<T, Uninitialised<T>>;

}  // namespace keying::soft
