// The board operations' pure parts: how register reads are grouped into
// frames and how firmware versions are judged.
#include <QtTest>

#include "link/commands.h"
#include "support/exchange_result_text.h"
#include "workers/BoardOps.h"

Q_DECLARE_METATYPE(QVector<int>)

class tst_board_ops : public QObject {
    Q_OBJECT

    static QString Text(const QVector<RegisterRun>& runs) {
        QStringList parts;
        for (const RegisterRun& r : runs) parts << QStringLiteral("%1+%2").arg(r.first).arg(r.count);
        return parts.join(QLatin1Char(' '));
    }

private slots:
    // Every register asked for is in exactly one run, no run crosses a gap
    // or carries more than a frame holds, and the runs keep the order.
    void runs_data() {
        QTest::addColumn<QVector<int>>("regs");
        QTest::addColumn<QString>("runs");
        QTest::newRow("none") << QVector<int>{} << "";
        QTest::newRow("one") << QVector<int>{0x2A} << "42+1";
        QTest::newRow("gap splits") << QVector<int>{0, 1, 2, 4, 5} << "0+3 4+2";
        QTest::newRow("a frame's worth") << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7} << "0+8";
        QTest::newRow("longer than a frame") << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << "0+8 8+2";
        QTest::newRow("to the last register") << QVector<int>{253, 254, 255} << "253+3";
        QTest::newRow("a repeated address starts anew") << QVector<int>{3, 3, 4} << "3+1 3+2";
    }
    void runs() {
        QFETCH(QVector<int>, regs);
        QFETCH(QString, runs);
        const QVector<RegisterRun> got = Register_Runs(regs);
        QCOMPARE(Text(got), runs);
        for (const RegisterRun& r : got) QVERIFY(r.count >= 1 && r.count <= kMaxRegsPerFrame);
    }

    void firmware_onlyVersionThreeAccepted() {
        QVERIFY(!Firmware_Accepted(29));
        QVERIFY(Firmware_Accepted(30));
        QVERIFY(Firmware_Accepted(39));
        QVERIFY(!Firmware_Accepted(40));
        QCOMPARE(Firmware_Text(32), QStringLiteral("v3.2"));
    }

    // Only a missing reply is tried again: a board status or a closed port
    // is an answer, and a write repeated after one would go out twice.
    void retried_onlyAMissingReplyIsTriedAgain() {
        const QVector<ExchangeResult> answers = {ExchangeResult::noReply(), ExchangeResult::boardStatus('E'),
                                                 ExchangeResult::done()};
        int tries = 0;
        auto next = [&] { return answers[tries++]; };
        QCOMPARE(Exchange_Retried(3, next), ExchangeResult::boardStatus('E'));
        QCOMPARE(tries, 2);

        tries = 0;
        auto silent = [&] {
            ++tries;
            return ExchangeResult::noReply();
        };
        QCOMPARE(Exchange_Retried(kExchangeAttempts, silent), ExchangeResult::noReply());
        QCOMPARE(tries, kExchangeAttempts);

        // The caller's condition is asked before every try, the first too.
        tries = 0;
        bool portUp = true;
        auto dropsThePort = [&] {
            ++tries;
            portUp = false;
            return ExchangeResult::noReply();
        };
        QCOMPARE(Exchange_Retried(3, dropsThePort, [&] { return portUp; }), ExchangeResult::noReply());
        QCOMPARE(tries, 1);
        QCOMPARE(Exchange_Retried(3, dropsThePort, [&] { return portUp; }), ExchangeResult::noReply());
        QCOMPARE(tries, 1);
    }
};

QTEST_GUILESS_MAIN(tst_board_ops)
#include "tst_board_ops.moc"
