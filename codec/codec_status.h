// Status values returned by the codec operations; every program of the suite uses these numbers for
// these failures.
#pragma once

namespace codec {

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusOverflow = 6;         // a 32-bit intermediate result overflowed
inline constexpr int kStatusSubscript = 9;        // a table lookup or an index left its array
inline constexpr int kStatusDivisionByZero = 11;  // WaveLet with a zero quantiser

}  // namespace codec
