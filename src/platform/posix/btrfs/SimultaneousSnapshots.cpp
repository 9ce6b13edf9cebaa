#include "platform/posix/btrfs/SimultaneousSnapshots.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sched.h>

namespace quorlin {

namespace {

using Clock = std::chrono::steady_clock;

// A thread needs little more than the room of one call.
const size_t kStackBytes = 256 * 1024;

// What the threads share: the gate they wait at (held for writing until they may go) and
// how many have come to it.
struct Gate {
    pthread_rwlock_t lock = PTHREAD_RWLOCK_INITIALIZER;
    std::atomic<size_t> arrived{0};
};

struct Worker {
    VolumeCalls* calls = nullptr;
    SnapshotOrder* order = nullptr;
    Gate* gate = nullptr;
    Clock::time_point begun, ended;
    pthread_t thread{};
    bool started = false;

    void Take() {
        begun = Clock::now();
        order->error = calls->CreateSnapshot(order->source, order->folder, order->name.c_str());
        ended = Clock::now();
    }
};

void* Run(void* argument) {
    Worker& worker = *static_cast<Worker*>(argument);
    worker.gate->arrived.fetch_add(1);
    pthread_rwlock_rdlock(&worker.gate->lock);
    pthread_rwlock_unlock(&worker.gate->lock);
    worker.Take();
    return nullptr;
}

// Starts a thread for each worker that blocks every signal (they are the host's threads'
// to take), at a real-time priority where the process may have one: the threads must reach
// the kernel while the commit they wait for runs, however busy the processors are, and they
// do little more than wait there. A worker whose thread cannot be had is left unstarted.
void StartThreads(std::vector<Worker>& workers) {
    pthread_attr_t plain, prompt;
    const bool sized = pthread_attr_init(&plain) == 0;
    if (sized)
        pthread_attr_setstacksize(&plain, kStackBytes);
    bool realTime = pthread_attr_init(&prompt) == 0;
    if (realTime) {
        sched_param priority{};
        priority.sched_priority = 1;
        realTime = pthread_attr_setstacksize(&prompt, kStackBytes) == 0 &&
                   pthread_attr_setinheritsched(&prompt, PTHREAD_EXPLICIT_SCHED) == 0 &&
                   pthread_attr_setschedpolicy(&prompt, SCHED_FIFO) == 0 &&
                   pthread_attr_setschedparam(&prompt, &priority) == 0;
    }
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    for (Worker& worker : workers) {
        int error = realTime ? pthread_create(&worker.thread, &prompt, Run, &worker) : EPERM;
        if (error == EPERM) {  // no real-time priority for this process
            realTime = false;
            error = pthread_create(&worker.thread, sized ? &plain : nullptr, Run, &worker);
        }
        worker.started = error == 0;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (sized)
        pthread_attr_destroy(&plain);
    pthread_attr_destroy(&prompt);
}

}  // namespace

double TakeAtOnce(VolumeCalls& calls, std::vector<SnapshotOrder>& orders,
                  const std::vector<int>& fileSystems) {
    if (orders.size() == 1 && fileSystems.empty()) {  // nothing to meet: taken right here
        const auto begun = Clock::now();
        orders[0].error =
            calls.CreateSnapshot(orders[0].source, orders[0].folder, orders[0].name.c_str());
        return std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
    }
    Gate gate;
    std::vector<Worker> workers(orders.size());
    for (size_t i = 0; i < orders.size(); ++i) {
        workers[i].calls = &calls;
        workers[i].order = &orders[i];
        workers[i].gate = &gate;
    }
    pthread_rwlock_wrlock(&gate.lock);
    StartThreads(workers);
    const size_t started = static_cast<size_t>(
        std::count_if(workers.begin(), workers.end(), [](const Worker& w) { return w.started; }));
    while (gate.arrived.load() < started)
        sched_yield();
    for (int fd : fileSystems)
        calls.StartCommit(fd);  // without it the calls still succeed, in several transactions
    pthread_rwlock_unlock(&gate.lock);
    for (Worker& worker : workers)
        if (!worker.started)
            worker.Take();
    for (Worker& worker : workers)
        if (worker.started)
            pthread_join(worker.thread, nullptr);
    pthread_rwlock_destroy(&gate.lock);
    if (workers.empty())
        return 0;
    Clock::time_point first = workers[0].begun, last = workers[0].ended;
    for (const Worker& worker : workers) {
        first = std::min(first, worker.begun);
        last = std::max(last, worker.ended);
    }
    return std::chrono::duration<double, std::milli>(last - first).count();
}

}  // namespace quorlin
