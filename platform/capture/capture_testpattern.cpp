// The test picture as a capture source: one picture per paced read, stamped with the time it was drawn.
#include <memory>

#include "platform/capture/capture.h"
#include "platform/capture/testpattern.h"
#include "platform/capture/timestamp.h"

namespace platform {
namespace {

class TestPatternSource final : public CaptureSource {
  public:
    TestPatternSource(double fps, std::function<std::int64_t()> clock)
        : fps_(fps), clock_(clock ? std::move(clock) : MonotonicMicros) {}

    std::string Name() const override { return "the test picture"; }
    bool Open(std::string*) override { return true; }
    CaptureRead Read(std::uint8_t* frame, std::int64_t* capture_micros) override {
        *capture_micros = clock_();
        pattern_->Render(frame, frame_number_++, *capture_micros);
        return CaptureRead::kFrame;
    }
    void Close() override {}
    double PacedFps() const override { return fps_; }

  private:
    double fps_;
    std::function<std::int64_t()> clock_;
    std::unique_ptr<TestPattern> pattern_ = std::make_unique<TestPattern>();  // 230 KB: not on the stack
    std::uint64_t frame_number_ = 0;
};

}  // namespace

std::unique_ptr<CaptureSource> MakeTestPatternSource(double fps, std::function<std::int64_t()> clock) {
    return std::make_unique<TestPatternSource>(fps, std::move(clock));
}

}  // namespace platform
