// Waiting for the exchanges a window or a view queued on a board session.
#pragma once

#include <QTest>

#include "link/ExchangeQueue.h"
#include "workers/BoardSession.h"

// Dispatches events until every exchange queued on the session has run and
// its result has been handed back (the cells and buttons show it); false
// after timeoutMs.
inline bool Exchanges_Settle(const BoardSession& session, int timeoutMs = 10000) {
    const ExchangeQueue& queue = session.exchanges();
    return QTest::qWaitFor([&queue] { return queue.pending() == 0; }, timeoutMs);
}
