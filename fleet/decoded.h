#pragma once
// What a decoder of outside input hands back: the value, or a one-line reason it was refused.
#include <optional>
#include <string>
#include <utility>

namespace kvx::fleet {

template <typename T>
struct Decoded {
    std::optional<T> value;
    std::string reason;  // empty when value holds

    static Decoded ok(T v) { return Decoded{std::move(v), {}}; }
    static Decoded fail(std::string why) { return Decoded{std::nullopt, std::move(why)}; }
    explicit operator bool() const { return value.has_value(); }
    const T& operator*() const { return *value; }
    const T* operator->() const { return &*value; }
};

}  // namespace kvx::fleet
