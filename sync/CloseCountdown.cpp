#include "sync/CloseCountdown.h"

namespace quorvane {

CloseCountdown::Tick CloseCountdown::OnTick() {
    Tick tick;
    tick.Close = secondes_ <= 1;
    --secondes_;
    if (barPosition_ < kDuree) {
        ++barPosition_;
    }
    tick.Caption = "Fermeture dans " + std::to_string(secondes_) + " secondes.";
    tick.BarPosition = barPosition_;
    return tick;
}

}  // namespace quorvane
