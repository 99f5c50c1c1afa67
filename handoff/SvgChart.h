// The tuning report's pictures, drawn as SVG text (no painting library, so
// the base library stays free of Qt GUI): a key's diff over time with its
// threshold and touches, and the histogram of its untouched diff.
#pragma once

#include <QString>

#include "handoff/KeyTraceBuilder.h"

// Diff over fromMs..toMs: the trace, the threshold as a dashed step line,
// touches shaded.
QString SvgChart_Trace(const KeyTrace& trace, qint64 fromMs, qint64 toMs);
// Counts of the untouched diff values.
QString SvgChart_Histogram(const KeyTrace& trace);
