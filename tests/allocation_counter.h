#pragma once
// A replacement of the global operator new for test programs: it counts every allocation, and can be
// told to fail one, so that a test can show that a path allocates nothing, or survives running out.

namespace vantrel::test {

/// How many allocations this program has made so far.
long AllocationCount();

/// How many allocations are live now: made and not yet released.
long LiveAllocations();

/// Makes the allocation `countdown` allocations from now fail (0: the next one); a negative countdown
/// lets every allocation succeed again. A failing allocation throws std::bad_alloc, or gives null from
/// the non-throwing forms.
void FailAllocationIn(long countdown);

}  // namespace vantrel::test
