// Hands numbered slots of work (batches that the caller fills) from the
// calling thread to a consumer that takes them in the order sent. On POSIX a
// threaded hand-off consumes on a thread of its own, so that filling and
// consuming go on at once on two processors; the Windows builds, which read
// no large files with it, consume in the caller.
#ifndef BRINDLEX_WINAPI_HAND_OFF_H_
#define BRINDLEX_WINAPI_HAND_OFF_H_

#include <cstddef>
#include <functional>
#include <memory>

class HandOff {
 public:
  // Slots are numbered 0 to `slots` - 1 (at least 2) and are all free at
  // first; the caller holds one taken slot at a time. `consume(slot)` is
  // called once for each slot sent, in the order sent, and must leave it
  // ready to be filled again. A threaded hand-off whose thread cannot be
  // started consumes in the caller.
  static std::unique_ptr<HandOff> Make(size_t slots, std::function<void(size_t slot)> consume,
                                       bool threaded);
  // The hand-off that consumes in the caller, whatever the platform.
  static std::unique_ptr<HandOff> MakeInline(std::function<void(size_t slot)> consume);
  virtual ~HandOff() = default;
  HandOff(const HandOff&) = delete;
  HandOff& operator=(const HandOff&) = delete;

  // A free slot, to be filled and then sent; waits until the consumer frees
  // one when none is free.
  virtual size_t Take() = 0;
  // Hands the taken slot `slot` to the consumer.
  virtual void Send(size_t slot) = 0;
  // Returns once every slot sent has been consumed; nothing may be sent
  // after it. The consumer's work is then seen by the caller.
  virtual void Finish() = 0;

 protected:
  HandOff() = default;
};

#endif  // BRINDLEX_WINAPI_HAND_OFF_H_
