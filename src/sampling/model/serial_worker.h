#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace corvel {

// One background thread that runs posted jobs one after another, at a priority below the
// interface's. Destruction lets the job in progress finish, drops jobs not yet started, and
// joins the thread.
class SerialWorker
{
public:
    SerialWorker();
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> job);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> pending_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once the members above exist
};

} // namespace corvel
