// Every allocation of the test program is counted (the counting operator new lives in one suite), so tests
// can show that a per-frame or per-block path allocates nothing.
#pragma once

long AllocationCount();
