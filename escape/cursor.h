// Text written left to right into a buffer of fixed size.
#pragma once

#include <cstring>

#include "escape/text.h"

// Appends units to a buffer of `capacity` units and keeps the text in it
// NUL-terminated. An append that would not fit, with the NUL behind it, is
// refused whole, and from then on every append is refused: the overflow
// sticks, so a run of appends needs one check at its end.
class TextCursor {
public:
    TextCursor(Unit* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = 0; }

    void Append(const Unit* units, size_t n)
    {
        if (overflowed_ || n >= capacity_ - length_) {
            overflowed_ = true;
            return;
        }
        std::memcpy(buffer_ + length_, units, n * sizeof(Unit));
        length_ += n;
        buffer_[length_] = 0;
    }
    void Append(const Unit* text) { Append(text, TextLength(text)); }
    void Append(Unit unit) { Append(&unit, 1); }

    bool Overflowed() const { return overflowed_; }
    size_t Length() const { return length_; }
    const Unit* Text() const { return buffer_; }

private:
    Unit* buffer_;
    size_t capacity_;
    size_t length_ = 0;
    bool overflowed_ = false;
};
