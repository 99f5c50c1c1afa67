// Exchange results in QCOMPARE's failure messages, and the result a test's
// data row names by the character the board's log shows for it.
#pragma once

#include <QTest>

#include "link/ExchangeResult.h"

inline char* toString(const ExchangeResult& r) {
    switch (r.cause()) {
        case ExchangeCause::Done:
            return qstrdup("done");
        case ExchangeCause::NoPort:
            return qstrdup("no port");
        case ExchangeCause::NoReply:
            return qstrdup("no reply");
        case ExchangeCause::BoardStatus:
            break;
    }
    return qstrdup(QByteArray("board status ").append(r.letter()).constData());
}

// '0' done, 'A' no port, 'Z' no reply, any other letter the board's status.
inline ExchangeResult ResultOf(char letter) {
    switch (letter) {
        case '0':
            return ExchangeResult::done();
        case 'A':
            return ExchangeResult::noPort();
        case 'Z':
            return ExchangeResult::noReply();
        default:
            return ExchangeResult::boardStatus(letter);
    }
}
