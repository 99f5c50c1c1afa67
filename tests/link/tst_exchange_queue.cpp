// The queue of an owner's exchanges: order, the thread results come back on,
// receivers that go away, and a queue torn down with work still in it.
#include <QThread>
#include <QtTest>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
#include "link/commands.h"

class tst_ExchangeQueue : public QObject {
    Q_OBJECT

private slots:
    // Jobs run one after another on one thread that is not the owner's, in
    // the order posted; every result comes back on the owner's thread in the
    // same order, and the queue says when it has nothing left.
    void jobsRunInOrderOffTheOwnersThread_resultsComeBackInOrder() {
        BoardLink link;
        ExchangeQueue queue(link);
        QSignalSpy idle(&queue, &ExchangeQueue::idle);
        QObject receiver;
        std::mutex lock;
        std::vector<int> ran;
        std::vector<Qt::HANDLE> jobThreads;
        QList<int> results;
        bool resultsOnOwner = true;
        for (int i = 0; i < 20; ++i) {
            queue.post(
                &receiver,
                [i, &lock, &ran, &jobThreads](BoardLink&) {
                    std::lock_guard<std::mutex> hold(lock);
                    ran.push_back(i);
                    jobThreads.push_back(QThread::currentThreadId());
                    return i * 10;
                },
                [&results, &resultsOnOwner](int r) {
                    resultsOnOwner &= QThread::currentThread() == qApp->thread();
                    results.append(r);
                });
        }
        QCOMPARE(queue.pending(), 20);
        QTRY_COMPARE(queue.pending(), 0);
        QCOMPARE(idle.count(), 1);
        QList<int> expected;
        for (int i = 0; i < 20; ++i) expected.append(i * 10);
        QCOMPARE(results, expected);
        QVERIFY(resultsOnOwner);
        std::lock_guard<std::mutex> hold(lock);
        QCOMPARE(ran.size(), size_t(20));
        for (int i = 0; i < 20; ++i) QCOMPARE(ran[size_t(i)], i);
        for (Qt::HANDLE t : jobThreads) {
            QCOMPARE(t, jobThreads.front());
            QVERIFY(t != QThread::currentThreadId());
        }
    }

    // A receiver deleted while its job runs gets no callback; the job itself
    // still ran (the board was asked), and later jobs are unaffected.
    void receiverGone_noCallback_jobStillRan() {
        BoardLink link;
        ExchangeQueue queue(link);
        auto receiver = std::make_unique<QObject>();
        QObject other;
        std::atomic<bool> ran{false};
        bool called = false;
        bool otherCalled = false;
        queue.post(
            receiver.get(),
            [&ran](BoardLink& l) {
                ran = true;
                return CMD_Output(l, 0);  // no port: 'A' at once
            },
            [&called](ExchangeResult) { called = true; });
        queue.post(
            &other, [](BoardLink&) {}, [&otherCalled] { otherCalled = true; });
        receiver.reset();
        QTRY_COMPARE(queue.pending(), 0);
        QVERIFY(ran);
        QVERIFY(!called);
        QVERIFY(otherCalled);
    }

    // Torn down with a job waiting for a reply and more queued: the running
    // one ends at the abort, the queued ones never run, and no callback comes.
    void destroyedWithWorkQueued_dropsItWithoutCallbacks() {
        BoardLink link;
        std::atomic<int> started{0};
        std::atomic<bool> release{false};
        bool called = false;
        {
            ExchangeQueue queue(link);
            for (int i = 0; i < 5; ++i) {
                queue.post(
                    this,
                    [&started, &release](BoardLink& l) {
                        ++started;
                        // Waits like an exchange waiting for its reply, until
                        // released or aborted.
                        while (!release && !l.exchangesAborted()) QThread::yieldCurrentThread();
                    },
                    [&called] { called = true; });
            }
            QTRY_COMPARE(started.load(), 1);
        }
        QCOMPARE(started.load(), 1);
        QVERIFY(!link.exchangesAborted());  // the link is as it was
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    // A callback that ends the queue (its session closing) ends the delivery
    // too: the callbacks of jobs that finished with it are dropped, not run
    // on a queue that has gone.
    void callbackDestroysTheQueue_laterCallbacksDropped() {
        BoardLink link;
        auto queue = std::make_unique<ExchangeQueue>(link);
        std::atomic<bool> release{false};
        int calls = 0;
        queue->post(
            this,
            [&release](BoardLink&) {
                while (!release) QThread::yieldCurrentThread();
            },
            [&] {
                ++calls;
                queue.reset();
            });
        queue->post(
            this, [](BoardLink&) {}, [&calls] { ++calls; });
        release = true;
        QTRY_VERIFY(!queue);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
    }
};

QTEST_MAIN(tst_ExchangeQueue)
#include "tst_exchange_queue.moc"
