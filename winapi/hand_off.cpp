#include "winapi/hand_off.h"

#include <utility>

namespace {

// Consumes each slot in the call that sends it.
class InlineHandOff : public HandOff {
 public:
  explicit InlineHandOff(std::function<void(size_t)> consume) : consume_(std::move(consume)) {}

  size_t Take() override { return 0; }
  void Send(size_t slot) override { consume_(slot); }
  void Finish() override {}

 private:
  std::function<void(size_t)> consume_;
};

}  // namespace

std::unique_ptr<HandOff> HandOff::MakeInline(std::function<void(size_t)> consume) {
  return std::make_unique<InlineHandOff>(std::move(consume));
}
