// A plain model of the frame codec for the tests: whole 320 x 240 planes, the general transforms of
// CCODEC called block by block, ReWLY for the chrominance, and coding written straight from the frame
// tables. The fast encoder and decoder must give exactly its bytes and pixels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "codec/CCODEC.h"

namespace reference {

constexpr int kW = 320;
constexpr int kSamples = 76801;  // planes have indices 0..76800

inline int Base(int b, int a) {
    return 2560 * b + 8 * a;
}

struct Planes {
    std::vector<int32_t> y = std::vector<int32_t>(kSamples), cb = y, cr = y;
};

inline Planes SplitYcc(const CCODEC& codec, std::span<const uint8_t> bgr) {
    const auto& ycc = codec.Tables().YccTable;
    Planes p;
    for (int k = 0; k < 76800; ++k) {
        const int B = bgr[3 * k], G = bgr[3 * k + 1], R = bgr[3 * k + 2];
        p.y[k] = ycc[R][0] + ycc[G][1] + ycc[B][2];
        p.cb[k] = ycc[R][3] + ycc[G][4] + ycc[B][5] + 128;
        p.cr[k] = ycc[R][5] + ycc[G][6] + ycc[B][7] + 128;
    }
    return p;
}

// Four levels of 2 x 2 sums halved, copying the whole destination back after each level but the last.
inline std::vector<int32_t> ReduceLowBand(std::vector<int32_t> src) {
    std::vector<int32_t> dst(kSamples);
    int width = 320, height = 240;
    for (int level = 1; level <= 4; ++level) {
        for (int j = 0; j < height; j += 2) {
            for (int x = 0; x < width; x += 2) {
                dst[kW * (j / 2) + x / 2] = (src[kW * j + x] + src[kW * j + x + 1] + src[kW * (j + 1) + x] +
                                             src[kW * (j + 1) + x + 1]) /
                                            2;
            }
        }
        if (level < 4) std::copy_n(dst.begin(), 76800, src.begin());
        width /= 2;
        height /= 2;
    }
    return dst;
}

inline void PutLowBand(int c, std::vector<uint8_t>& out) {
    c = std::clamp(c, -4095, 4095);
    if (c >= 0 && c <= 127) {
        out.push_back(static_cast<uint8_t>(c));
    } else if (c >= -63 && c <= -1) {
        out.push_back(static_cast<uint8_t>(0x80 - c));
    } else if (c >= 128) {
        out.push_back(static_cast<uint8_t>(0xC0 + c / 256));
        out.push_back(static_cast<uint8_t>(c % 256));
    } else {
        out.push_back(static_cast<uint8_t>(0xD0 + (-c) / 256));
        out.push_back(static_cast<uint8_t>((-c) % 256));
    }
}

inline void PackLowBand(const std::vector<int32_t>& g, std::vector<uint8_t>& out) {
    for (int r = 0; r < 15; ++r) {
        for (int j = 0; j < 20; ++j) {
            const int value = g[kW * r + j];
            int predictor = 0;
            if (j >= 1) {
                predictor = g[kW * r + j - 1];
            } else if (r >= 1) {
                predictor = g[kW * (r - 1)];
            }
            PutLowBand(r == 0 && j == 0 ? value : predictor - value, out);
        }
    }
}

inline void PackCoefficients(const std::vector<int32_t>& coef, int threshold, std::vector<uint8_t>& out) {
    static constexpr int kPos[9] = {0, 1, 2, 320, 321, 322, 640, 641, 642};
    for (int b = 0; b < 30; ++b) {
        for (int a = 0; a < 40; ++a) {
            int run = 0;
            for (int j = 0; j < 9; ++j) {
                const int c = coef[Base(b, a) + kPos[j]];
                if (c == 0) {
                    ++run;
                    continue;
                }
                if (run) out.push_back(static_cast<uint8_t>(run));
                run = 0;
                int m = j == 0 ? std::abs(c) : std::max(std::abs(c) - threshold, 0);
                m = std::min(m, 4095);
                if (m <= 63) {
                    out.push_back(static_cast<uint8_t>((c > 0 ? 0x80 : 0xC0) + m));
                } else {
                    out.push_back(static_cast<uint8_t>((c > 0 ? 0x20 : 0x30) + m / 256));
                    out.push_back(static_cast<uint8_t>(m % 256));
                }
            }
            if (run) out.push_back(static_cast<uint8_t>(run));
        }
    }
}

// The encoder as the frame format describes it, with the mended coding rules. Returns the status.
inline int Encode(const CCODEC& codec, std::span<const uint8_t> bgr, std::vector<uint8_t>& frame) {
    const Planes p = SplitYcc(codec, bgr);
    std::vector<int32_t> rows(kSamples), coef(kSamples);
    for (int b = 29; b >= 0; --b) {
        for (int a = 39; a >= 0; --a) {
            for (int r = 0; r < 8; ++r) {
                if (int s = codec.FDCT8(p.y, rows, Base(b, a) + kW * r)) return s;
            }
            for (int v = 0; v < 8; ++v) {
                if (int s = codec.tFDCT8(rows, coef, Base(b, a) + v)) return s;
            }
            if (a < 39) coef[Base(b, a + 1)] -= coef[Base(b, a)];
        }
        if (b < 29) coef[Base(b + 1, 0)] -= coef[Base(b, 0)];
    }
    frame.clear();
    PackLowBand(ReduceLowBand(p.cb), frame);
    PackLowBand(ReduceLowBand(p.cr), frame);
    PackCoefficients(coef, codec.敷居, frame);
    return frame.size() > 15001 ? 9 : 0;
}

// Reads one byte, or reports the end of the input.
struct Cursor {
    std::span<const uint8_t> in;
    size_t pos = 0;
    bool Next(int& byte) {
        if (pos >= in.size()) return false;
        byte = in[pos++];
        return true;
    }
};

inline bool UnpackLowBand(Cursor& in, std::vector<int32_t>& g) {
    for (int r = 0; r < 15; ++r) {
        for (int j = 0; j < 20; ++j) {
            int a = 0, next = 0;
            if (!in.Next(a)) return false;
            int value = 0;
            if (a <= 0x7F) {
                value = a;
            } else if (a <= 0xBF) {
                value = -(a & 0x3F);
            } else {
                if (!in.Next(next)) return false;
                value = (a & 0xF0) == 0xC0 ? (a & 0x0F) * 256 + next : -((a & 0x0F) * 256 + next);
            }
            g[kW * r + j] = value;
        }
    }
    for (int r = 0; r < 15; ++r) {
        if (r <= 13) g[kW * (r + 1)] = g[kW * r] - g[kW * (r + 1)];
        for (int j = 0; j <= 18; ++j) g[kW * r + j + 1] = g[kW * r + j] - g[kW * r + j + 1];
    }
    return true;
}

inline void UnpackCoefficients(Cursor& in, int threshold, std::vector<int32_t>& coef) {
    const int pos[17] = {0, 1, 2, 320, 321, 322, 640, 641, 642, 0, 0, 0, 0, 0, 0, 0, 0};
    int block = 0, j = 0, ch = 0;
    while (block < 1200 && in.Next(ch)) {
        if (ch <= 0x1F) {
            j += ch & 0x0F;
        } else if (ch >= 0x40 && ch <= 0x7F) {
            continue;
        } else {
            bool negative = false;
            long long m = 0;
            if (ch >= 0x80) {
                negative = ch >= 0xC0;
                m = ch & 0x3F;
            } else {
                int low = 0;
                if (!in.Next(low)) return;
                negative = ch >= 0x30;
                m = (ch & 0x0F) * 256 + low;
            }
            if (j > 16) return;
            if (j >= 1) m += threshold;
            const long long value = negative ? -m : m;
            if (value != static_cast<int32_t>(value)) return;
            coef[Base(block / 40, block % 40) + pos[j]] = static_cast<int32_t>(value);
            ++j;
        }
        if (j == 9) {
            j = 0;
            ++block;
        }
    }
}

// The decoder as the frame format describes it. Returns the status; `out` is written only on success.
inline int Decode(CCODEC& codec, std::span<const uint8_t> frame, std::span<uint8_t> out) {
    Cursor in{frame};
    std::vector<int32_t> cb_low(kSamples), cr_low(kSamples), coef(kSamples), work(kSamples), luma(kSamples);
    if (!UnpackLowBand(in, cb_low) || !UnpackLowBand(in, cr_low)) return 9;
    UnpackCoefficients(in, codec.敷居, coef);
    std::vector<uint8_t> cb(kSamples), cr(kSamples);
    int w = 20, h = 15;
    codec.ReWLY(320, 240, cb_low, w, h, 4, cb);
    w = 20, h = 15;
    codec.ReWLY(320, 240, cr_low, w, h, 4, cr);
    for (int b = 0; b < 30; ++b) {
        if (b < 29) {
            const long long sum = 0LL + coef[Base(b + 1, 0)] + coef[Base(b, 0)];
            if (sum != static_cast<int32_t>(sum)) return 6;
            coef[Base(b + 1, 0)] = static_cast<int32_t>(sum);
        }
        for (int a = 0; a < 40; ++a) {
            if (a < 39) {
                const long long sum = 0LL + coef[Base(b, a + 1)] + coef[Base(b, a)];
                if (sum != static_cast<int32_t>(sum)) return 6;
                coef[Base(b, a + 1)] = static_cast<int32_t>(sum);
            }
            for (int v = 0; v < 8; ++v) {
                if (int s = codec.tIFDCT8(coef, work, Base(b, a) + v)) return s;
            }
            for (int r = 0; r < 8; ++r) {
                if (int s = codec.IFDCT8(work, luma, Base(b, a) + kW * r)) return s;
            }
        }
    }
    const auto& rgb = codec.Tables().RgbTable;
    auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    for (int k = 0; k < 76800; ++k) {
        const int Y = luma[k], Cb = cb[k], Cr = cr[k];
        out[3 * k] = clamp(Y + rgb[Cb][0] - 226);
        out[3 * k + 1] = clamp(Y + rgb[Cr][1] + rgb[Cb][2] + 135);
        out[3 * k + 2] = clamp(Y + rgb[Cr][3] - 179);
    }
    return 0;
}

}  // namespace reference
