// What a run without a window (started before any application object exists) does to tell its
// outcome to the desktop: `notify_without_application <summary> <report>` prints whether the
// notification service answered.
#include <cstdio>

#include "ui/RunNotification.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        return 2;
    }
    const bool sent =
        quorvane::NotifyRunOutcome(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    std::puts(sent ? "envoyée" : "non envoyée");
    return 0;
}
