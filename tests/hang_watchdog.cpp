// Linked into every test program. A suite that hangs is otherwise only a
// CTest time-out with no clue where it stood. When TKEVAL_HANG_REPORT_S is
// set (CTest sets it a little below the suite's time-out), a suite still
// running after that many seconds prints the stack of every thread to stderr
// and ends with a failure.
#include <dirent.h>
#include <execinfo.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr int kMaxFrames = 64;
std::atomic<int> s_Printed{0};

void PrintOwnStack(int) {
    void* frames[kMaxFrames];
    const int n = ::backtrace(frames, kMaxFrames);
    ::backtrace_symbols_fd(frames, n, STDERR_FILENO);
    s_Printed.fetch_add(1);
}

// The thread's name as the kernel knows it ("QThread", "tst_x", ...).
void ThreadName(long tid, char* name, size_t size) {
    name[0] = '\0';
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%ld/comm", tid);
    if (FILE* f = std::fopen(path, "r")) {
        if (std::fgets(name, static_cast<int>(size), f) != nullptr) name[std::strcspn(name, "\n")] = '\0';
        std::fclose(f);
    }
}

void ReportAndEnd(int seconds) {
    std::fprintf(stderr, "\nhang watchdog: the suite is still running after %d s; the stacks of its threads follow\n",
                 seconds);
    std::fflush(stderr);
    const long self = ::syscall(SYS_gettid);
    int asked = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(tasks)) {
            const long tid = std::strtol(e->d_name, nullptr, 10);
            if (tid <= 0 || tid == self) continue;
            char name[32];
            ThreadName(tid, name, sizeof name);
            std::fprintf(stderr, "\n--- thread %ld (%s) ---\n", tid, name);
            std::fflush(stderr);
            // One at a time, so the stacks do not interleave; a thread that
            // cannot take the signal (stuck in the kernel) is not waited for
            // beyond a second.
            const int before = s_Printed.load();
            if (::syscall(SYS_tgkill, ::getpid(), tid, SIGRTMIN + 3) != 0) continue;
            ++asked;
            for (int i = 0; i < 100 && s_Printed.load() == before; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::closedir(tasks);
    }
    std::fprintf(stderr, "\nhang watchdog: %d of %d stacks printed; ending the suite as failed\n", s_Printed.load(),
                 asked);
    std::fflush(stderr);
    std::_Exit(124);
}

struct HangWatchdog {
    HangWatchdog() {
        const char* setting = std::getenv("TKEVAL_HANG_REPORT_S");
        const int seconds = setting != nullptr ? std::atoi(setting) : 0;
        if (seconds <= 0) return;
        // The first backtrace loads the unwinder; do it now, not in a handler.
        void* warm[1];
        ::backtrace(warm, 1);
        struct sigaction sa = {};
        sa.sa_handler = PrintOwnStack;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGRTMIN + 3, &sa, nullptr);
        std::thread([seconds] {
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            ReportAndEnd(seconds);
        }).detach();
    }
};

const HangWatchdog s_Watchdog;

}  // namespace
