#pragma once
// With tokens set, which till holds the open receipt. Lines for it are taken from that till
// alone: a receipt never holds two tills' items. Used on the driver thread only.

#include <string>
#include <string_view>

#include "platform/error.h"

namespace tillvane {

class VirtualRegister;

class ReceiptHolder {
  public:
    // Before `till` runs `text` on `driver`: the refusal it gets (its reply text), none when
    // it may run. A text that would continue a receipt another till holds open is refused
    // whole. One that prints a receipt or report of its own abandons that receipt first, as a
    // BS abandons a receipt left open by an earlier request: a till whose neighbour walked away
    // from a receipt is never locked out, and the neighbour learns at its next line that its
    // receipt is gone. Without tokens (`till` empty) every text may run.
    platform::Error Admit(std::string_view till, std::string_view text, VirtualRegister& driver);
    // After `till`'s text ran: it holds the receipt still open if it opened it; the holder of
    // a receipt that stays open does not change.
    void Settle(std::string_view till, const VirtualRegister& driver);

  private:
    std::string holder_;  // empty: no receipt open, or none opened by a known till
};

}  // namespace tillvane
