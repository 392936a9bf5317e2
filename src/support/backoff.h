#pragma once

#include <algorithm>

// The pause before the next try of something that failed: it doubles from first to last, and
// starts again from first once a try succeeds.
class Backoff {
public:
    constexpr Backoff(int firstMs, int lastMs) : first_(firstMs), last_(lastMs), next_(firstMs) {}

    // The pause to wait now; the one after it is twice as long, up to the last.
    int next() {
        const int now = next_;
        next_ = std::min(next_ * 2, last_);
        return now;
    }
    // What next() would give, without moving on.
    int peek() const { return next_; }
    void reset() { next_ = first_; }

private:
    int first_;
    int last_;
    int next_;
};
