#pragma once

#include <array>
#include <optional>

// A fixed table with a lower bound of 0 and an inclusive upper bound, as the
// windows share them. Reading or writing outside the bounds fails: the checked
// accessors report it, so the caller skips that one statement and goes on.
template <typename T, int Upper> class SharedTable
{
public:
    static constexpr int kUpper = Upper;
    static constexpr int kSize = Upper + 1;

    // Whether `index` lies within 0..Upper.
    static constexpr bool inRange(int index) { return index >= 0 && index <= Upper; }

    // The element at `index`; nullopt when the index is out of bounds.
    std::optional<T> get(int index) const
    {
        if (!inRange(index))
            return std::nullopt;
        return m_items[index];
    }

    // Returns false, and changes nothing, when the index is out of bounds.
    bool set(int index, T value)
    {
        if (!inRange(index))
            return false;
        m_items[index] = value;
        return true;
    }

    // For indexes the caller knows to be in bounds (named constants).
    T &operator[](int index) { return m_items.at(index); }
    const T &operator[](int index) const { return m_items.at(index); }

    // The first element, for the link reads that fill consecutive elements.
    T *data() { return m_items.data(); }
    const T *data() const { return m_items.data(); }

    // Sets every element to `value`.
    void fill(T value) { m_items.fill(value); }

private:
    std::array<T, kSize> m_items{};
};
