#include "data/MonitorSample.h"

#include <QDateTime>
#include <chrono>

qint64 Steady_Ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

qint64 Wall_Ms() { return QDateTime::currentMSecsSinceEpoch(); }
