#include "winapi/hand_off.h"

#include <utility>

std::unique_ptr<HandOff> HandOff::Make(size_t /*slots*/, std::function<void(size_t)> consume,
                                       bool /*threaded*/) {
  return MakeInline(std::move(consume));
}
