// libFuzzer target for the reassembly of frame messages on a video connection. The input is a message
// bound (first two bytes) and a run of receives, each a length byte and that many bytes. The collector
// must give exactly what a plain model gives: a message wherever the bytes held so far end in FF FF, and
// an overlong stream wherever the bound is reached without one.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/frame_collector.h"

namespace {

class Model {
  public:
    explicit Model(int bound) : bound_(bound) {}

    std::size_t Room() const { return static_cast<std::size_t>(bound_) - held_.size(); }

    FrameCollector::Step Received(const uint8_t* bytes, std::size_t n) {
        held_.insert(held_.end(), bytes, bytes + n);
        if (held_.size() >= 2 && held_[held_.size() - 2] == 0xFF && held_.back() == 0xFF) {
            message_.swap(held_);
            held_.clear();
            return FrameCollector::Step::kComplete;
        }
        if (held_.size() >= static_cast<std::size_t>(bound_)) {
            held_.clear();
            return FrameCollector::Step::kOverlong;
        }
        return FrameCollector::Step::kMore;
    }

    const std::vector<uint8_t>& Message() const { return message_; }

  private:
    int bound_;
    std::vector<uint8_t> held_, message_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Small bounds reach the overlong case quickly; the programs' own bounds are in range too.
    const int bound = 1 + (data[0] << 8 | data[1]) % (FrameCollector::kCapacity - 1);
    static FrameCollector collector;  // 64 KB: made once, cleared for each input
    collector.Clear();
    Model model(bound);
    for (std::size_t pos = 2; pos < size;) {
        const std::size_t wanted = data[pos++];
        const std::size_t n = std::min({wanted, size - pos, model.Room()});
        const auto room = collector.Room(bound);
        fuzz::Check(room.size() == model.Room());
        std::copy_n(data + pos, n, room.begin());
        pos += n;
        const FrameCollector::Step step = collector.Received(static_cast<int>(n), bound);
        fuzz::Check(step == model.Received(data + pos - n, n));
        if (step == FrameCollector::Step::kComplete)
            fuzz::Check(std::ranges::equal(collector.Message(), model.Message()));
    }
    return 0;
}
