// The exchanges an owner thread (the GUI's) asks of one board, run one after
// another on a thread of their own, so that the owner never waits on the
// wire. Each job gets the board's link, returns its result and is done: the
// result comes back on the queue's thread (the owner's) through the given
// callback, unless the receiver named with the job has gone by then.
//
//   session->exchanges().post(
//       this, [dev](BoardLink& link) { return CMD_Version(link, ...); },
//       [this](char result) { ... on the GUI thread ... });
//
// Jobs run in the order they were posted, each taking the link's exchange
// lock for its exchanges as every other caller does, so the board sees the
// same frames in the same order as when the owner made them itself. A job
// must not touch widgets; it gets values, the link and thread-safe objects
// (the register image) and returns values. Widget-free.
#pragma once

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

class BoardLink;

class ExchangeQueue : public QObject {
    Q_OBJECT
public:
    explicit ExchangeQueue(BoardLink& link, QObject* parent = nullptr);
    // Drops what is still queued, ends the running job at its next look for
    // a reply (the link's abort) and joins the thread; no callback runs
    // after this.
    ~ExchangeQueue() override;
    ExchangeQueue(const ExchangeQueue&) = delete;
    ExchangeQueue& operator=(const ExchangeQueue&) = delete;

    // Queues job(link); done(result) follows on this object's thread.
    template <typename Job, typename Done>
    void post(QObject* receiver, Job job, Done done);

    // Jobs posted whose callbacks have not run yet.
    int pending() const { return m_Pending; }

signals:
    // The last pending job's callback has run.
    void idle();

private:
    // The result travels under a mutex the thread sanitizer can see: the
    // queued call that carries it back goes through Qt's own locks.
    template <typename Result>
    struct Handover {
        std::mutex lock;
        std::unique_ptr<Result> value;
    };

    void enqueue(std::function<void()> work);
    void finishOne();
    void run();

    BoardLink& m_Link;
    int m_Pending = 0;  // the owner's thread only
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::deque<std::function<void()>> m_Jobs;  // under m_Lock
    bool m_Stop = false;                       // under m_Lock
    std::thread m_Thread;
};

template <typename Job, typename Done>
void ExchangeQueue::post(QObject* receiver, Job job, Done done) {
    using Result = std::invoke_result_t<Job&, BoardLink&>;
    ++m_Pending;
    // The job, the callback and what they captured travel back with the
    // result and end on this thread: nothing the two threads share is let
    // go of on the exchange thread.
    enqueue([this, guard = QPointer<QObject>(receiver), job = std::move(job), done = std::move(done)]() mutable {
        if constexpr (std::is_void_v<Result>) {
            job(m_Link);
            QMetaObject::invokeMethod(
                this,
                [this, guard = std::move(guard), job = std::move(job), done = std::move(done)]() mutable {
                    if (guard) done();
                    finishOne();
                },
                Qt::QueuedConnection);
        } else {
            auto handover = std::make_shared<Handover<Result>>();
            {
                Result r = job(m_Link);
                std::lock_guard<std::mutex> hold(handover->lock);
                handover->value = std::make_unique<Result>(std::move(r));
            }
            QMetaObject::invokeMethod(
                this,
                [this, guard = std::move(guard), job = std::move(job), done = std::move(done),
                 handover = std::move(handover)]() mutable {
                    std::unique_ptr<Result> r;
                    {
                        std::lock_guard<std::mutex> hold(handover->lock);
                        r = std::move(handover->value);
                    }
                    if (guard && r) done(std::move(*r));
                    finishOne();
                },
                Qt::QueuedConnection);
        }
    });
}
