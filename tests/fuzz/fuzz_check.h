// What the fuzz targets share: a check that stops the run (libFuzzer keeps the input that failed it).
#pragma once

#include <cstdlib>

namespace fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace fuzz
