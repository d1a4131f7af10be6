#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A thread of its own that runs jobs one after another, in the order they were posted, and sleeps
// while it has none. It starts with the first job and lives until stop() or the destructor, which
// let the job that runs finish, drop those that wait and join the thread. (A standard thread and
// lock, rather than a Qt thread pool, so that ThreadSanitizer sees every job handed over.)
class Worker
{
public:
    Worker() = default;
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    void post(std::function<void()> job);
    // Waits until every job posted so far has run.
    void finish();
    void stop();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    bool m_running = false;
    bool m_quit = false;
    std::thread m_thread;
};
