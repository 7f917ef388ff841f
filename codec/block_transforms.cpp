// The four public 8-point transforms, evaluated step by step with 32-bit checks so that any input, not
// only the codec's own, gives the same values and the same stopping points.
#include <cstdlib>

#include "codec/CCODEC.h"
#include "codec/checked_math.h"

namespace {

using codec::CheckedMath;
using codec::kPlaneWidth;

constexpr int kRowStride = 1;
constexpr int kColumnStride = kPlaneWidth;

bool SpanHolds(size_t size, int32_t index, int stride) {
    return index >= 0 && int64_t{index} + 7 * int64_t{stride} < static_cast<int64_t>(size);
}

// The eight samples a0..a7 at Index with the given stride.
struct Samples {
    int32_t a[8];
    Samples(std::span<const int32_t> in, int32_t index, int stride) {
        for (int k = 0; k < 8; ++k) a[k] = in[index + k * stride];
    }
};

// Butterflies shared by the two forward transforms.
struct ForwardButterflies {
    int32_t s07, s16, s25, s34, d07, d16, d25, d34, p, q;
    ForwardButterflies(const Samples& x, const codec::CodecTables& t, CheckedMath& m) {
        const int32_t* a = x.a;
        s07 = m.Add(a[0], a[7]);
        s16 = m.Add(a[1], a[6]);
        s25 = m.Add(a[2], a[5]);
        s34 = m.Add(a[3], a[4]);
        d07 = m.Sub(a[0], a[7]);
        d16 = m.Sub(a[1], a[6]);
        d25 = m.Sub(a[2], a[5]);
        d34 = m.Sub(a[3], a[4]);
        p = m.Product(t.MulCosPi4, m.Add(d16, d25));
        q = m.Product(t.MulCosPi4, m.Sub(d16, d25));
    }
};

// The inverse butterflies; `direct_h` computes H and K without the table (the row transform does).
struct InverseOutputs {
    int32_t y[8];
    InverseOutputs(const Samples& x, const codec::CodecTables& t, bool direct_h, CheckedMath& m) {
        const int32_t* a = x.a;
        const codec::TrigConstants& c = t.trig;
        const int32_t c1 = m.Sub(m.Mul(a[1], c.SinPi16), m.Mul(a[7], c.Sin7Pi16));
        const int32_t l = m.Sub(m.Mul(a[5], c.Sin5Pi16), m.Mul(a[3], c.Sin3Pi16));
        const int32_t v = m.Add(m.Mul(a[3], c.Cos3Pi16), m.Mul(a[5], c.Cos5Pi16));
        const int32_t D = m.Add(m.Mul(a[7], c.Cos7Pi16), m.Mul(a[1], c.CosPi16));
        int32_t H = 0, K = 0;
        if (direct_h) {
            H = m.Div(m.Mul(m.Add(a[0], a[4]), c.CosPi4), 256);
            K = m.Div(m.Mul(m.Sub(a[0], a[4]), c.CosPi4), 256);
        } else {
            H = m.Lookup(t.MulCosPi4, m.Add(a[0], a[4]));
            K = m.Lookup(t.MulCosPi4, m.Sub(a[0], a[4]));
        }
        const int32_t M = m.Sub(m.Div(m.Mul(a[2], c.SinPi8), 256), m.Div(m.Mul(a[6], c.Sin3Pi8), 256));
        const int32_t R = m.Add(m.Div(m.Mul(a[6], c.Cos3Pi8), 256), m.Div(m.Mul(a[2], c.CosPi8), 256));
        const int32_t Q = m.Div(m.Sub(D, v), 256);
        const int32_t P = m.Div(m.Sub(c1, l), 256);
        const int32_t L = m.Div(m.Add(l, c1), 256);
        const int32_t V2 = m.Div(m.Add(v, D), 256);
        const int32_t U = m.Add(H, R), V = m.Add(K, M), E2 = m.Sub(K, M), E3 = m.Sub(H, R);
        const int32_t W = m.Lookup(t.MulCosPi4, m.Sub(Q, P));
        const int32_t P2 = m.Lookup(t.MulCosPi4, m.Add(P, Q));
        y[0] = m.Add(U, V2);
        y[1] = m.Add(V, P2);
        y[2] = m.Add(E2, W);
        y[3] = m.Add(E3, L);
        y[4] = m.Sub(E3, L);
        y[5] = m.Sub(E2, W);
        y[6] = m.Sub(V, P2);
        y[7] = m.Sub(U, V2);
    }
};

}  // namespace

int CCODEC::FDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const {
    if (!SpanHolds(InDat.size(), Index, kRowStride) || !SpanHolds(OutDat.size(), Index, kRowStride)) {
        return codec::kStatusSubscript;
    }
    const codec::CodecTables& t = *tables_;
    CheckedMath m;
    const ForwardButterflies b(Samples(InDat, Index, kRowStride), t, m);
    // Written in the order 0, 2, 1, 3: a failure keeps what was written before it.
    const int32_t out0 = m.Product(t.MulCosPi4, m.Add(m.Add(m.Add(b.s07, b.s16), b.s25), b.s34));
    if (!m.ok()) return m.status();
    OutDat[Index] = out0;
    const int32_t out2 =
        m.Add(m.Product(t.MulCosPi8, m.Sub(b.s07, b.s34)), m.Product(t.MulSinPi8, m.Sub(b.s16, b.s25)));
    if (!m.ok()) return m.status();
    OutDat[Index + 2] = out2;
    const int32_t out1 =
        m.Add(m.Product(t.MulCosPi16, m.Add(b.d07, b.p)), m.Product(t.MulSinPi16, m.Add(b.d34, b.q)));
    if (!m.ok()) return m.status();
    OutDat[Index + 1] = out1;
    const int32_t out3 =
        m.Sub(m.Product(t.QMulCos3Pi16, m.Sub(b.d07, b.p)), m.Product(t.QMulSin3Pi16, b.d34));
    if (!m.ok()) return m.status();
    OutDat[Index + 3] = out3;
    return codec::kStatusOk;
}

int CCODEC::tFDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const {
    if (!SpanHolds(InDat.size(), Index, kColumnStride) || !SpanHolds(OutDat.size(), Index, kColumnStride)) {
        return codec::kStatusSubscript;
    }
    const codec::CodecTables& t = *tables_;
    CheckedMath m;
    const ForwardButterflies b(Samples(InDat, Index, kColumnStride), t, m);
    const int32_t sum = m.Add(m.Add(m.Add(m.Product(t.MulCosPi4, b.s07), m.Product(t.MulCosPi4, b.s16)),
                                    m.Product(t.MulCosPi4, b.s25)),
                              m.Product(t.MulCosPi4, b.s34));
    const int32_t out0 = m.Div(sum, 4);
    if (!m.ok()) return m.status();
    OutDat[Index] = out0;
    const int32_t out2 = m.Add(m.Product(t.MulSinPi8Div1024, m.Sub(b.s16, b.s25)),
                               m.Div(m.Product(t.MulCosPi8, m.Sub(b.s07, b.s34)), 4));
    if (!m.ok()) return m.status();
    OutDat[Index + 2 * kColumnStride] = out2;
    const int32_t out1 =
        m.Add(m.Product(t.QMulCosPi16, m.Add(b.d07, b.p)), m.Product(t.QMulSinPi16, m.Add(b.d34, b.q)));
    if (!m.ok()) return m.status();
    OutDat[Index + kColumnStride] = out1;
    const int32_t out3 =
        m.Sub(m.Product(t.QMulCos3Pi16, m.Sub(b.d07, b.p)), m.Product(t.QMulSin3Pi16, b.d34));
    if (!m.ok()) return m.status();
    OutDat[Index + 3 * kColumnStride] = out3;
    for (int r = 0; r < 4; ++r) {
        int32_t& value = OutDat[Index + r * kColumnStride];
        if (std::abs(int64_t{value}) < 敷居) value = 0;
    }
    return codec::kStatusOk;
}

int CCODEC::IFDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const {
    if (!SpanHolds(InDat.size(), Index, kRowStride) || !SpanHolds(OutDat.size(), Index, kRowStride)) {
        return codec::kStatusSubscript;
    }
    CheckedMath m;
    const InverseOutputs out(Samples(InDat, Index, kRowStride), *tables_, true, m);
    if (!m.ok()) return m.status();
    for (int k = 0; k < 8; ++k) OutDat[Index + k] = out.y[k] / 4;
    return codec::kStatusOk;
}

int CCODEC::tIFDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const {
    if (!SpanHolds(InDat.size(), Index, kColumnStride) || !SpanHolds(OutDat.size(), Index, kColumnStride)) {
        return codec::kStatusSubscript;
    }
    CheckedMath m;
    const InverseOutputs out(Samples(InDat, Index, kColumnStride), *tables_, false, m);
    if (!m.ok()) return m.status();
    for (int k = 0; k < 8; ++k) OutDat[Index + k * kColumnStride] = out.y[k];
    return codec::kStatusOk;
}
