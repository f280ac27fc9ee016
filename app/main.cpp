#include <malloc.h>

#include <QApplication>

#include <clocale>

#include "app/Startup.h"

// The version record, readable with `strings QuorvaneClient` on a store machine; the package
// carries the same number.
[[gnu::used]] static const char kVersionRecord[] = "QuorvaneClient " QUORVANE_VERSION;

int main(int argc, char* argv[]) {
    // Large head-office documents free millions of small blocks at once; without fast bins the
    // allocator does not pay for merging them on the next large allocation.
    mallopt(M_MXFAST, 0);
    quorvane::ChoosePlatformWhenHeadless();
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "");
    return quorvane::RunProgram(QApplication::arguments());
}
