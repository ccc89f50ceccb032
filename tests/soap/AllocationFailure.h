#pragma once

// Fails one allocation through operator new, as an exhausted heap would: the
// k-th from the probe's construction on, counting every form of new (the
// library's array and nothrow forms allocate through it). One at a time.
class CAllocationFailure
{
public:
    explicit CAllocationFailure(int failAt) noexcept;
    ~CAllocationFailure();
    CAllocationFailure(const CAllocationFailure&) = delete;
    CAllocationFailure& operator=(const CAllocationFailure&) = delete;

    // Whether the allocation to fail was reached.
    bool Met() const noexcept;
};
