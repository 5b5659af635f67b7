#include "base/worker.h"

#if defined(KORVA_SINGLE_THREAD)

// A host without threads (the browser's main thread): no worker is ever made.
Worker* worker_create() { return nullptr; }
void worker_destroy(Worker*) {}
void worker_start(Worker*, worker_job_fn job, void* arg) { job(arg); }
void worker_wait(Worker*) {}

#else

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

struct Worker {
  std::mutex lock;
  std::condition_variable wake;  // a job or the end for the thread
  std::condition_variable done;  // the job finished, for the owner
  worker_job_fn job = nullptr;
  void* arg = nullptr;
  bool busy = false;
  bool stop = false;
  std::thread thread;
};

namespace {

// Started as a thread of void(void*), as the service threads are (one kind of thread).
void worker_main(void* arg) {
  Worker* w = static_cast<Worker*>(arg);
  std::unique_lock<std::mutex> hold(w->lock);
  for (;;) {
    w->wake.wait(hold, [w] { return w->busy || w->stop; });
    if (!w->busy) return;
    const worker_job_fn job = w->job;
    void* arg = w->arg;
    hold.unlock();
    job(arg);
    hold.lock();
    w->busy = false;
    w->done.notify_one();
  }
}

}  // namespace

Worker* worker_create() {
  Worker* w = new (std::nothrow) Worker;
  if (w) w->thread = std::thread(worker_main, static_cast<void*>(w));
  return w;
}

void worker_destroy(Worker* w) {
  if (!w) return;
  {
    std::lock_guard<std::mutex> hold(w->lock);
    w->stop = true;
  }
  w->wake.notify_one();
  w->thread.join();
  delete w;
}

void worker_start(Worker* w, worker_job_fn job, void* arg) {
  {
    std::lock_guard<std::mutex> hold(w->lock);
    w->job = job;
    w->arg = arg;
    w->busy = true;
  }
  w->wake.notify_one();
}

void worker_wait(Worker* w) {
  std::unique_lock<std::mutex> hold(w->lock);
  w->done.wait(hold, [w] { return !w->busy; });
}

#endif
