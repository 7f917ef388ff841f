// 32-bit signed arithmetic evaluated step by step, remembering the first failure. The general block
// transforms use it so that they stop where a 32-bit evaluation stops and report the same status: an
// overflow, or a product-table argument outside the table.
#pragma once

#include <cstdint>
#include <limits>

#include "codec/codec_status.h"
#include "codec/codec_tables.h"

namespace codec {

class CheckedMath {
  public:
    bool ok() const { return status_ == kStatusOk; }
    int status() const { return status_; }

    int32_t Add(int32_t a, int32_t b) { return Fit(int64_t{a} + b); }
    int32_t Sub(int32_t a, int32_t b) { return Fit(int64_t{a} - b); }
    int32_t Mul(int32_t a, int32_t b) { return Fit(int64_t{a} * b); }
    // Division truncating toward zero by a positive constant.
    int32_t Div(int32_t a, int32_t divisor) { return ok() ? a / divisor : 0; }
    int32_t Abs(int32_t a) { return Fit(a < 0 ? -int64_t{a} : int64_t{a}); }

    // A table lookup: the argument must lie inside the table.
    int32_t Lookup(const ProductTable& table, int32_t x) {
        if (!ok()) return 0;
        if (!ProductTable::Covers(x)) return Fail(kStatusSubscript);
        return table.At(x);
    }
    // A product of the forward transforms: the table's value inside its range, the table's own rule
    // beyond it (those arguments occur at strong horizontal edges).
    int32_t Product(const ProductTable& table, int32_t x) {
        if (!ok()) return 0;
        return ProductTable::Covers(x) ? table.At(x) : table.Formula(x);
    }

    // Records a failure found by the caller (an index outside its array, say); the first one stays.
    int32_t Fail(int status) {
        if (ok()) status_ = status;
        return 0;
    }

  private:
    int32_t Fit(int64_t value) {
        if (!ok()) return 0;
        if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
            return Fail(kStatusOverflow);
        }
        return static_cast<int32_t>(value);
    }
    int status_ = kStatusOk;
};

}  // namespace codec
