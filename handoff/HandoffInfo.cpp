#include "handoff/HandoffInfo.h"

QString Handoff_ToolVersion() { return QStringLiteral(TKEVAL_VERSION); }

QString Handoff_DateText(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}
