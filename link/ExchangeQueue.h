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
    // A finished job's callback waits in m_Done (emitted on the exchange
    // thread, received queued on this object's).
    void completed();

private:
    void enqueue(std::function<void()> work);
    // The exchange thread hands a finished job's callback over. The
    // callback, with the result and everything the job captured, passes
    // through m_Lock, which the thread sanitizer sees; the queued call that
    // wakes the owner carries nothing.
    void complete(std::function<void()> callback);
    void deliver();
    void run();

    BoardLink& m_Link;
    int m_Pending = 0;  // the owner's thread only
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::deque<std::function<void()>> m_Jobs;  // under m_Lock
    std::deque<std::function<void()>> m_Done;  // under m_Lock
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
            complete([guard = std::move(guard), job = std::move(job), done = std::move(done)]() mutable {
                if (guard) done();
            });
        } else {
            auto result = std::make_shared<Result>(job(m_Link));
            complete([guard = std::move(guard), job = std::move(job), done = std::move(done),
                      result = std::move(result)]() mutable {
                if (guard) done(std::move(*result));
            });
        }
    });
}
