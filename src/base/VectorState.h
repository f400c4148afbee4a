#pragma once

// The vector unit's state between pieces of number work.
//   ClearUpperVectorHalves - marks the upper halves of the wide vector
//                            registers unused, where the processor has them.
//
// Code built for the wide registers that returns without clearing them (some
// of Qt's own, among others) leaves the thread's vector state "dirty"; on
// processors that track it, every later call into the maths library then runs
// many times slower (exp and atan2 about 25 times on a recent server part),
// until something clears it. New threads inherit the state of the thread that
// starts them. Call this before long runs of number work: it costs a cycle or
// two and changes no result.
void ClearUpperVectorHalves() noexcept;
