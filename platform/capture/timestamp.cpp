#include "platform/capture/timestamp.h"

#include <array>
#include <chrono>

#include "media/picture_geometry.h"

namespace platform {
namespace {

constexpr int kWidth = media::kPictureWidth;
constexpr int kRowBytes = media::kPictureRowBytes;
constexpr int kBlock = 8;
constexpr int kBlocksPerRow = kWidth / kBlock;  // 40
constexpr int kBits = 2 * kBlocksPerRow;        // 80
constexpr std::uint8_t kSyncHead = 0xB2;        // 1011 0010: four white and four black blocks
constexpr std::uint8_t kSyncTail = 0x4D;        // its complement
constexpr std::uint8_t kWhite = 235;
constexpr std::uint8_t kBlack = 16;
// A strip whose white and black sync blocks differ by less than this is not a stamp.
constexpr int kMinContrast = 48;

using Bits = std::array<bool, kBits>;

std::uint16_t Crc16(const std::uint8_t* data, int n) {  // CCITT, polynomial 0x1021, start 0xFFFF
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

void PutByte(Bits& bits, int at, std::uint8_t value) {
    for (int i = 0; i < 8; ++i) bits[at + i] = (value >> (7 - i)) & 1;
}

std::uint8_t GetByte(const Bits& bits, int at) {
    std::uint8_t value = 0;
    for (int i = 0; i < 8; ++i) value = static_cast<std::uint8_t>((value << 1) | (bits[at + i] ? 1 : 0));
    return value;
}

// Block k of the strip, in reading order: the upper line of blocks (buffer rows 8..15) left to right,
// then the lower one (rows 0..7). Returns the buffer row and column of the block's first pixel.
int BlockRow(int k) {
    return k < kBlocksPerRow ? kBlock : 0;
}
int BlockColumn(int k) {
    return (k % kBlocksPerRow) * kBlock;
}

// The stamp's bytes: sync, six bytes of time (most significant first), CRC of the time bytes, sync.
std::array<std::uint8_t, 10> Encode(std::int64_t micros) {
    std::array<std::uint8_t, 10> bytes{};
    const auto t = static_cast<std::uint64_t>(micros & kTimeStampMask);
    bytes[0] = kSyncHead;
    for (int i = 0; i < 6; ++i) bytes[1 + i] = static_cast<std::uint8_t>(t >> (8 * (5 - i)));
    const std::uint16_t crc = Crc16(&bytes[1], 6);
    bytes[7] = static_cast<std::uint8_t>(crc >> 8);
    bytes[8] = static_cast<std::uint8_t>(crc);
    bytes[9] = kSyncTail;
    return bytes;
}

// Mean brightness (luma, 0..255) of one block.
int BlockLuma(const std::uint8_t* picture, int k) {
    const int row0 = BlockRow(k);
    const int col0 = BlockColumn(k);
    int sum = 0;
    for (int y = 0; y < kBlock; ++y) {
        const std::uint8_t* p = picture + (row0 + y) * kRowBytes + col0 * 3;
        for (int x = 0; x < kBlock; ++x, p += 3) sum += 29 * p[0] + 150 * p[1] + 77 * p[2];
    }
    return sum / (kBlock * kBlock * 256);
}

}  // namespace

std::int64_t MonotonicMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void WriteTimeStamp(std::uint8_t* picture, std::int64_t micros) {
    const auto bytes = Encode(micros);
    Bits bits{};
    for (int i = 0; i < 10; ++i) PutByte(bits, 8 * i, bytes[i]);
    for (int k = 0; k < kBits; ++k) {
        const std::uint8_t v = bits[k] ? kWhite : kBlack;
        for (int y = 0; y < kBlock; ++y) {
            std::uint8_t* p = picture + (BlockRow(k) + y) * kRowBytes + BlockColumn(k) * 3;
            for (int x = 0; x < kBlock * 3; ++x) p[x] = v;
        }
    }
}

std::optional<std::int64_t> ReadTimeStamp(const std::uint8_t* picture) {
    std::array<int, kBits> luma{};
    for (int k = 0; k < kBits; ++k) luma[k] = BlockLuma(picture, k);

    // The threshold lies halfway between the white and the black blocks of the two sync bytes, so that a
    // codec that darkens, brightens or flattens the picture as a whole still reads right.
    Bits expected{};
    PutByte(expected, 0, kSyncHead);
    PutByte(expected, kBits - 8, kSyncTail);
    int white = 0;
    int black = 0;
    for (int i = 0; i < 8; ++i) {
        for (int k : {i, kBits - 8 + i}) (expected[k] ? white : black) += luma[k];
    }
    white /= 8;
    black /= 8;
    if (white - black < kMinContrast) return std::nullopt;
    const int threshold = (white + black) / 2;

    Bits bits{};
    for (int k = 0; k < kBits; ++k) bits[k] = luma[k] > threshold;
    std::array<std::uint8_t, 10> bytes{};
    for (int i = 0; i < 10; ++i) bytes[i] = GetByte(bits, 8 * i);
    if (bytes[0] != kSyncHead || bytes[9] != kSyncTail) return std::nullopt;
    const std::uint16_t crc = static_cast<std::uint16_t>((bytes[7] << 8) | bytes[8]);
    if (crc != Crc16(&bytes[1], 6)) return std::nullopt;
    std::int64_t t = 0;
    for (int i = 0; i < 6; ++i) t = (t << 8) | bytes[1 + i];
    return t;
}

std::int64_t StampAgeMicros(std::int64_t stamp, std::int64_t now) {
    return ((now & kTimeStampMask) - stamp) & kTimeStampMask;
}

}  // namespace platform
