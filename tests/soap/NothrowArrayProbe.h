#pragma once

// Watches the arrays allocated with new (std::nothrow), the form the URL code
// takes its work buffers in: counts them, tells how many are still held, and
// can refuse them to stand for a heap that is exhausted. One probe at a time.
class CNothrowArrayProbe
{
public:
    explicit CNothrowArrayProbe(bool refuse = false) noexcept;
    ~CNothrowArrayProbe();
    CNothrowArrayProbe(const CNothrowArrayProbe&) = delete;
    CNothrowArrayProbe& operator=(const CNothrowArrayProbe&) = delete;

    int Allocated() const noexcept;
    int Held() const noexcept;
};
