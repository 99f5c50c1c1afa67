#include "data/MonitorSample.h"

#include <QDateTime>
#include <chrono>

qint64 Steady_Ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

qint64 Wall_Ms() { return QDateTime::currentMSecsSinceEpoch(); }

MonitorSample MonitorSample_FromGlobals(int ch) {
    MonitorSample s;
    s.tMs = Steady_Ms();
    s.wallMs = Wall_Ms();
    s.channel = ch;
    if (ch < 0 || ch >= kMaxChannels) return s;
    int sbf = g_SizeOfSBF.load(std::memory_order_acquire);
    s.sbfCount = sbf < 0 ? 0 : (sbf > kMaxSbf ? kMaxSbf : sbf);
    // All four, whatever the SBF count: the indicators show the third SBF even
    // on a chip configured with fewer.
    for (int k = 0; k < kMaxSbf; ++k) {
        s.ref[k] = g_Ref_Cnt[k].load(std::memory_order_relaxed);
        s.sense[k] = g_Sen_Cnt[ch][k].load(std::memory_order_relaxed);
        s.diff[k] = g_Diff_Per_Tick[ch][k].load(std::memory_order_relaxed);
        s.offset[k] = g_Offset_Per_Tick[ch][k].load(std::memory_order_relaxed);
    }
    return s;
}
