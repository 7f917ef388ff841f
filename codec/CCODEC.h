// CCODEC: the suite's still-frame video codec. The server encodes every captured 320 x 240 picture into
// a compressed frame of 1,800 to 15,001 bytes; each receiver decodes the frames of one server. Luminance
// keeps the 3 x 3 lowest coefficients of each 8 x 8 block (integer transforms driven by product tables),
// each chrominance plane only its 20 x 15 grid of 16 x 16 area means. Every frame stands alone.
//
// All operations return a status: 0 on success, 6 when a 32-bit intermediate overflows, 9 when a table
// argument or an index leaves its array (see codec_status.h). A failing call leaves 敷居, SendDataSize
// and the tables as they were. An instance is not re-entrant: one operation at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "codec/codec_status.h"
#include "codec/codec_tables.h"
#include "codec/frame_format.h"

namespace codec {
struct Workspace;
// The thresholds of the suite: the server encodes with 10, the receivers decode with 15.
inline constexpr int kServerThreshold = 10;
inline constexpr int kReceiverThreshold = 15;
}  // namespace codec

class CCODEC {
  public:
    CCODEC();  // builds the tables
    ~CCODEC();
    CCODEC(const CCODEC&) = delete;
    CCODEC& operator=(const CCODEC&) = delete;

    // Coefficient threshold: the forward column transform zeroes coefficients below it, the encoder
    // codes coefficients 1..8 of a block less it and the decoder adds its own back. The server uses 10,
    // the receivers 15; a frame does not carry it.
    int32_t 敷居 = 0;
    // Length of the frame made by the last successful EncodeDCTPress.
    int32_t SendDataSize = 0;
    // The frame being built by EncodeDCTPress and its next write position.
    std::array<uint8_t, codec::kFrameBufSize> FrameBuf{};
    int32_t FramePos = 0;

    // Builds every constant and table again (the same values the constructor built).
    int InitDCT();

    // The 8-point transforms on planes of row stride 320, starting at Index. FDCT8 reads
    // InDat[Index..Index+7] and writes OutDat[Index..Index+3]; tFDCT8 reads the column
    // InDat[Index + 320k], k = 0..7, writes rows 0..3 at quarter scale and zeroes those below 敷居.
    // IFDCT8 and tIFDCT8 are the inverses (row at quarter scale, column at full scale), writing 8 values.
    int FDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const;
    int tFDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const;
    int IFDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const;
    int tIFDCT8(std::span<const int32_t> InDat, std::span<int32_t> OutDat, int32_t Index) const;

    // Interleaved Y, Cb, Cr bytes to blue, green, red bytes in floating point.
    int ToRGB2(std::span<const uint8_t> SrcDat, std::span<uint8_t> DstDat) const;
    // Haar analysis of a byte plane of row stride Width over `level` levels, with coefficients below
    // Press1 dropped and the rest divided by Press2. W and h end as the size of the last band.
    int WaveLet(int32_t Width, int32_t Height, std::span<const uint8_t> Dat, int32_t& W, int32_t& h,
                int32_t level, std::span<int32_t> DstBmp, int32_t Press1, int32_t Press2);
    // Haar synthesis from a W x h approximation band (and its detail bands) over `level` levels into a
    // byte plane, clamping at 255 and leaving negative samples untouched. SrcBmp is overwritten between
    // levels; W and h end as the size reached. Height is not used.
    int ReWLY(int32_t Width, int32_t Height, std::span<int32_t> SrcBmp, int32_t& W, int32_t& h, int32_t level,
              std::span<uint8_t> DstBmp2);

    // Decodes the compressed frame at the start of InDat (later bytes are ignored) into a picture of
    // 320 x 240 blue, green, red pixels; OutDat needs 230,400 bytes and its further bytes stay as they
    // are. Input that ends inside a low band fails with 9; within the luminance section decoding stops
    // quietly and the blocks not reached keep zero coefficients. On failure OutDat is not written.
    int DecodeDCTPress(std::span<const uint8_t> InDat, std::span<uint8_t> OutDat);
    // Encodes the first 230,400 bytes of BmpDat into buf and sets SendDataSize. Fails with 9, leaving buf
    // and SendDataSize alone, when the frame would exceed 15,001 bytes or buf is shorter than the frame.
    int EncodeDCTPress(std::span<const uint8_t> BmpDat, std::span<uint8_t> buf);

    const codec::CodecTables& Tables() const { return *tables_; }

  private:
    int ReconstructLumaExactly();

    std::unique_ptr<codec::CodecTables> tables_;
    std::unique_ptr<codec::Workspace> work_;
};
