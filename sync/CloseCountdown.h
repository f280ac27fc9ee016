#pragma once

#include <string>

namespace quorvane {

// The visible countdown after a run: 30 ticks of a second, the caption counting 29 down to 0,
// the window closing on the 30th.
class CloseCountdown {
  public:
    static constexpr int kDuree = 30;

    struct Tick {
        bool Close = false;
        std::string Caption;
        int BarPosition = 0;
    };

    void Start() {
        secondes_ = kDuree;
        barPosition_ = 0;
    }
    Tick OnTick();

    int SecondesAvantFermeture() const { return secondes_; }
    int BarPosition() const { return barPosition_; }

  private:
    int secondes_ = kDuree;
    int barPosition_ = 0;
};

}  // namespace quorvane
