#include "platform/timing.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <thread>

uint32_t GetTickCount()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Pump_Messages()
{
    // Only a thread with an event dispatcher has events to pump; a bare worker
    // thread (QThread::run without exec) has none, and that is fine.
    if (QCoreApplication::instance() == nullptr)
        return;
    if (QThread::currentThread()->eventDispatcher() == nullptr)
        return;
    // Deferred deletes are left to the outer loop: an object whose slot is on
    // the stack below this wait must not be deleted under it.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Wait_Pump(unsigned ms)
{
    if (ms == 0)
        return;
    const uint32_t start = GetTickCount();
    while (GetTickCount() - start < ms) {
        Sleep(1);
        Pump_Messages();
    }
}
