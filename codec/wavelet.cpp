// The Haar synthesis (ReWLY) and analysis (WaveLet) over planes of row stride Width, and the
// floating-point colour conversion ToRGB2.
#include <algorithm>
#include <cmath>
#include <limits>

#include "codec/CCODEC.h"
#include "codec/checked_math.h"
#include "codec/codec_workspace.h"

namespace {

using codec::CheckedMath;
using codec::kPlaneSamples;

// ReWLY addresses a work plane of 230,401 entries but only ever reads its first 76,801.
constexpr int64_t kSynthesisLastIndex = 230400;

bool Inside(int64_t index, size_t size) {
    return index >= 0 && index < static_cast<int64_t>(size);
}

// A floating-point value stored into a 32-bit integer: rounded ties to even, 6 when it does not fit.
int32_t Stored(double value, CheckedMath& m) {
    const double rounded = codec::RoundHalfEven(value);
    if (!(rounded >= std::numeric_limits<int32_t>::min() && rounded <= std::numeric_limits<int32_t>::max())) {
        return m.Fail(codec::kStatusOverflow);
    }
    return static_cast<int32_t>(rounded);
}

uint8_t ClampedByte(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// One synthesis level: the four values of each 2 x 2 square from the approximation and detail bands.
int SynthesisLevel(int32_t Width, std::span<const int32_t> src, int32_t W, int32_t h,
                   std::span<int32_t> work) {
    CheckedMath m;
    auto write = [&](int32_t index, int32_t value) {
        if (!m.ok()) return;
        if (index < 0 || index > kSynthesisLastIndex) {
            m.Fail(codec::kStatusSubscript);
            return;
        }
        if (index < static_cast<int64_t>(work.size())) work[index] = value;
    };
    for (int32_t j = 0; j < h && m.ok(); ++j) {
        for (int32_t b = 0; b < W && m.ok(); ++b) {
            const int32_t i0 = m.Add(m.Mul(Width, j), b), i1 = m.Add(i0, W);
            const int32_t i2 = m.Add(m.Mul(Width, m.Add(j, h)), b), i3 = m.Add(i2, W);
            if (!m.ok()) break;
            if (!Inside(i0, src.size()) || !Inside(i1, src.size()) || !Inside(i2, src.size()) ||
                !Inside(i3, src.size())) {
                return codec::kStatusSubscript;
            }
            const int32_t x0 = src[i0], x1 = src[i1], x2 = src[i2], x3 = src[i3];
            const int32_t top = m.Mul(Width, m.Mul(2, j)), bottom = m.Add(top, Width);
            write(m.Add(top, m.Mul(2, b)), m.Div(m.Add(m.Add(m.Add(x0, x1), x2), x3), 2));
            write(m.Add(m.Add(top, m.Mul(2, b)), 1), m.Div(m.Sub(m.Add(m.Sub(x0, x1), x2), x3), 2));
            write(m.Add(bottom, m.Mul(2, b)), m.Div(m.Sub(m.Sub(m.Add(x0, x1), x2), x3), 2));
            write(m.Add(m.Add(bottom, m.Mul(2, b)), 1), m.Div(m.Add(m.Sub(m.Sub(x0, x1), x2), x3), 2));
        }
    }
    return m.status();
}

// One analysis level over the even rows and columns of the current W x h band. The destination
// indices are computed in floating point and rounded, as the band offsets W / 2 and h / 2 may be halves.
int AnalysisLevel(int32_t Width, int32_t W, int32_t h, std::span<const int32_t> work,
                  std::span<int32_t> dst) {
    CheckedMath m;
    const double half_w = W / 2.0, half_h = h / 2.0;
    for (int32_t k = 0; k <= h - 1; k += 2) {
        for (int32_t c = 0; c <= W - 1; c += 2) {
            const int64_t upper = int64_t{Width} * k + c, lower = upper + Width;
            if (!Inside(upper, work.size()) || !Inside(upper + 1, work.size()) ||
                !Inside(lower, work.size()) || !Inside(lower + 1, work.size())) {
                return codec::kStatusSubscript;
            }
            const int32_t a = work[upper], b = work[upper + 1], cc = work[lower], d = work[lower + 1];
            const double row = k / 2, column = c / 2;
            const double index[4] = {Width * row + column, half_w + column + Width * row,
                                     (half_h + row) * Width + column,
                                     (half_h + row) * Width + half_w + column};
            const int32_t value[4] = {m.Div(m.Add(m.Add(m.Add(a, b), cc), d), 2),
                                      Stored((static_cast<double>(a) - b + cc - d) * 0.5, m),
                                      Stored((static_cast<double>(a) + b - cc - d) * 0.5, m),
                                      Stored((static_cast<double>(a) - b - cc + d) * 0.5, m)};
            for (int i = 0; i < 4; ++i) {
                if (!m.ok()) return m.status();
                const double at = codec::RoundHalfEven(index[i]);
                if (!(at >= 0 && at < static_cast<double>(dst.size()))) return codec::kStatusSubscript;
                dst[static_cast<size_t>(at)] = value[i];
            }
        }
    }
    return codec::kStatusOk;
}

// Drops the bottom rows, and coefficients below press1; divides the rest by press2.
int Quantise(int32_t Width, size_t count, std::span<int32_t> dst, int32_t press1, int32_t press2) {
    CheckedMath m;
    const int64_t kept_end = int64_t{Width} * 220;
    for (size_t i = 0; i < count; ++i) {
        if (i >= dst.size()) return codec::kStatusSubscript;
        int32_t& value = dst[i];
        if (static_cast<int64_t>(i) > kept_end) {
            value = 0;
        } else if (value != 0) {
            if (std::abs(int64_t{value}) < press1) {
                value = 0;
            } else if (press2 == 0) {
                return codec::kStatusDivisionByZero;
            } else {
                value = Stored(static_cast<double>(value) / press2, m);
                if (!m.ok()) return m.status();
            }
        }
    }
    return codec::kStatusOk;
}

}  // namespace

int CCODEC::ReWLY(int32_t Width, int32_t /*Height*/, std::span<int32_t> SrcBmp, int32_t& W, int32_t& h,
                  int32_t level, std::span<uint8_t> DstBmp2) {
    auto& work = work_->synthesis;
    work.fill(0);
    for (int32_t n = 1; n <= level; ++n) {
        if (int status = SynthesisLevel(Width, SrcBmp, W, h, work)) return status;
        if (n != 4) {
            if (SrcBmp.size() < static_cast<size_t>(kPlaneSamples)) return codec::kStatusSubscript;
            std::copy_n(work.begin(), kPlaneSamples, SrcBmp.begin());
        }
        CheckedMath m;
        const int32_t next_w = m.Mul(W, 2), next_h = m.Mul(h, 2);
        if (!m.ok()) return m.status();
        W = next_w;
        h = next_h;
    }
    for (size_t i = 0; i < work.size(); ++i) {
        if (work[i] < 0) continue;  // negative samples leave the plane as it was
        if (i >= DstBmp2.size()) return codec::kStatusSubscript;
        DstBmp2[i] = static_cast<uint8_t>(std::min(work[i], 255));
    }
    return codec::kStatusOk;
}

int CCODEC::WaveLet(int32_t Width, int32_t Height, std::span<const uint8_t> Dat, int32_t& W, int32_t& h,
                    int32_t level, std::span<int32_t> DstBmp, int32_t Press1, int32_t Press2) {
    W = Width;
    h = Height;
    auto& work = work_->analysis;
    work.fill(0);
    if (Dat.size() > work.size()) return codec::kStatusSubscript;
    std::copy(Dat.begin(), Dat.end(), work.begin());
    for (int32_t n = 1; n <= level; ++n) {
        if (int status = AnalysisLevel(Width, W, h, work, DstBmp)) return status;
        W /= 2;
        h /= 2;
        if (DstBmp.size() < static_cast<size_t>(kPlaneSamples)) return codec::kStatusSubscript;
        std::copy_n(DstBmp.begin(), kPlaneSamples, work.begin());
    }
    return Quantise(Width, Dat.size(), DstBmp, Press1, Press2);
}

int CCODEC::ToRGB2(std::span<const uint8_t> SrcDat, std::span<uint8_t> DstDat) const {
    for (size_t i = 0; i + 1 < SrcDat.size(); i += 3) {
        if (i + 2 >= SrcDat.size() || i + 2 >= DstDat.size()) return codec::kStatusSubscript;
        const double y = SrcDat[i], cb = SrcDat[i + 1] - 128.0, cr = SrcDat[i + 2] - 128.0;
        DstDat[i] = ClampedByte(static_cast<int32_t>(codec::RoundHalfEven(y + cb * 1.7718)));
        DstDat[i + 1] =
            ClampedByte(static_cast<int32_t>(codec::RoundHalfEven(y - cr * 0.7139 - cb * 0.3441)));
        DstDat[i + 2] = ClampedByte(static_cast<int32_t>(codec::RoundHalfEven(y + cr * 1.402)));
    }
    return codec::kStatusOk;
}
