// The workers' sleep between passes: full length unless stopped, and a stop
// ends it at once however long it had to go.
#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "workers/interruptible_sleep.h"

class tst_interruptible_sleep : public QObject {
    Q_OBJECT
private slots:
    void unstopped_lastsTheWholePeriod_evenWhenWokenWithoutStop();
    void stop_endsEverySleeperOfALongSleep();
    void stopAlreadySet_returnsAtOnce();
};

void tst_interruptible_sleep::unstopped_lastsTheWholePeriod_evenWhenWokenWithoutStop() {
    Interruptible_Sleep sleep;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    QElapsedTimer t;
    t.start();
    bool whole = false;
    std::thread sleeper([&] {
        whole = sleep.Sleep_Unless_Stopped(120, stop);
        done.store(true);
    });
    // A wake that is not a stop must neither end the sleep nor restart it.
    for (int i = 0; i < 5 && !done.load(); ++i) {
        sleep.Wake();
        QTest::qWait(10);
    }
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    sleeper.join();
    QVERIFY(whole);
    QVERIFY(t.elapsed() >= 120);
}

void tst_interruptible_sleep::stop_endsEverySleeperOfALongSleep() {
    Interruptible_Sleep sleep;
    std::atomic<bool> stop{false};
    std::atomic<int> ended{0};
    std::atomic<int> stopped{0};
    std::thread a([&] {
        if (!sleep.Sleep_Unless_Stopped(60000, stop)) ++stopped;
        ++ended;
    });
    std::thread b([&] {
        if (!sleep.Sleep_Unless_Stopped(60000, stop)) ++stopped;
        ++ended;
    });
    QTest::qWait(20);
    stop.store(true, std::memory_order_release);
    sleep.Wake();
    // Without the wake both would sit out the minute and the test time out.
    QTRY_COMPARE_WITH_TIMEOUT(ended.load(), 2, 5000);
    a.join();
    b.join();
    QCOMPARE(stopped.load(), 2);
}

void tst_interruptible_sleep::stopAlreadySet_returnsAtOnce() {
    Interruptible_Sleep sleep;
    std::atomic<bool> stop{true};
    // No wake at all: a stop set before the sleep began must still count.
    QVERIFY(!sleep.Sleep_Unless_Stopped(60000, stop));
    QVERIFY(!sleep.Sleep_Unless_Stopped(0, stop));
    stop.store(false);
    QVERIFY(sleep.Sleep_Unless_Stopped(0, stop));
}

QTEST_MAIN(tst_interruptible_sleep)
#include "tst_interruptible_sleep.moc"
