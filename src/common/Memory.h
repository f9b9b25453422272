#pragma once

#include <cstddef>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace dormex {

// A zero-filled buffer of the size a platform call asked for, or nothing when
// it cannot be had, so that a bogus size is reported instead of ending the run.
template <typename T = char>
std::optional<std::vector<T>> TryAllocate(size_t count)
{
    try {
        return std::vector<T>(count);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace dormex
