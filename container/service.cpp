#include "container/service.h"

#include <atomic>

namespace {

// A build for a single-threaded host (the browser's main thread) starts no service threads: the
// nodes are served by the engine's own pumps and fills, which every step already makes.
#if defined(KORVA_SINGLE_THREAD)
constexpr bool kStartThreads = false;
#else
constexpr bool kStartThreads = true;
#endif

ServiceThread* g_input = nullptr;
ServiceThread* g_sound = nullptr;
std::mutex g_threads_lock;

constexpr uint32_t kTryNodes = 16;
constexpr uint32_t kMaxRoundsPerPass = 4096;

uint32_t load_state(ServiceThread* t) { return std::atomic_ref<uint32_t>(t->state).load(); }
void store_state(ServiceThread* t, uint32_t s) { std::atomic_ref<uint32_t>(t->state).store(s); }

void service_main(ServiceThread* t) {
  {
    std::unique_lock<std::mutex> hold(t->event_lock);
    t->event.wait(hold, [t] { return t->resumed || t->stop_event; });
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(t->event_lock);
      if (t->event.wait_for(hold, std::chrono::milliseconds(t->period_ms), [t] { return t->stop_event; })) return;
    }
    t->lock.lock();
    if (load_state(t) == kServiceRunning && t->nodes) service_run_pass(t);
    if (load_state(t) == kServiceStopping) {
      t->lock.unlock();
      return;
    }
    t->lock.unlock();
  }
}

}  // namespace

ServiceThread** service_input_thread() { return &g_input; }
ServiceThread** service_sound_thread() { return &g_sound; }
std::mutex& service_threads_lock() { return g_threads_lock; }

void service_run_pass(ServiceThread* t) {
  std::lock_guard<std::recursive_mutex> hold(t->lock);
  const uint32_t pass = ++t->pass;
  // A node that keeps asking without getting anything done must not hold the thread forever.
  for (uint32_t round = 0; round < kMaxRoundsPerPass; ++round) {
    // Order the nodes with work by priority, highest first; an equal priority goes before.
    ServiceNode* order = nullptr;
    for (ServiceNode* n = t->nodes; n; n = n->next) {
      uint32_t s = load_state(t);
      if (s != kServiceRunning && s != kServiceCreated) return;
      n->found_priority = n->priority(n, pass);
      if (!n->found_priority) continue;
      ServiceNode** at = &order;
      while (*at && (*at)->found_priority > n->found_priority) at = &(*at)->next_in_order;
      n->next_in_order = *at;
      *at = n;
    }
    if (!order) return;
    // The first of the sixteen most urgent nodes whose mutex is free runs.
    ServiceNode* chosen = nullptr;
    uint32_t tried = 0;
    for (ServiceNode* n = order; n && tried < kTryNodes; n = n->next_in_order, ++tried) {
      if (!n->mutex || n->mutex->try_lock()) { chosen = n; break; }
    }
    if (!chosen) {
      std::this_thread::yield();
      continue;
    }
    chosen->work(chosen, pass);
    if (chosen->mutex) chosen->mutex->unlock();
  }
}

ServiceThread* service_thread_create(uint32_t rate) {
  ServiceThread* t = new ServiceThread();
  t->state = kServiceCreated;
  t->period_ms = 1000 / (rate ? rate : 1);
  t->stop_event = false;
  t->resumed = false;
  t->nodes = nullptr;
  t->pass = 1;
  t->node_count = 0;
  if (kStartThreads) t->thread = std::thread(service_main, t);
  return t;
}

void service_thread_start(ServiceThread* t) {
  uint32_t s = load_state(t);
  store_state(t, kServiceRunning);
  if (s == kServiceCreated) {
    std::lock_guard<std::mutex> hold(t->event_lock);
    t->resumed = true;
    t->event.notify_all();
  }
}

// A held thread keeps waking but runs no pass (passes run only in the running state). Holding
// waits, with the thread's lock, for a pass under way to end; the lock is not kept, so that
// whichever thread starts or destroys the held thread later need not own it.
void service_thread_hold(ServiceThread* a, ServiceThread* b) {
  if (a) store_state(a, kServiceHolding);
  if (b) store_state(b, kServiceHolding);
  if (a && b) std::lock(a->lock, b->lock);
  else if (a) a->lock.lock();
  else if (b) b->lock.lock();
  if (a) store_state(a, kServiceHeld);
  if (b) store_state(b, kServiceHeld);
  if (a) a->lock.unlock();
  if (b) b->lock.unlock();
}

void service_thread_destroy(ServiceThread* t) {
  if (!t) return;
  {
    std::lock_guard<std::mutex> hold(t->event_lock);
    t->stop_event = true;
    t->event.notify_all();
  }
  store_state(t, kServiceStopping);
  if (t->thread.joinable()) t->thread.join();
  delete t;
}

void service_node_add(ServiceNode* node, service_priority_fn priority, service_work_fn work, ServiceThread* t) {
  if (!node->mutex) node->mutex = new std::recursive_mutex();
  node->priority = priority;
  node->work = work;
  node->last_pass = 0;
  std::lock_guard<std::recursive_mutex> hold(t->lock);
  node->next = t->nodes;
  t->nodes = node;
  ++t->node_count;
}

namespace {

bool unlink(ServiceThread* t, ServiceNode* node) {
  std::lock_guard<std::recursive_mutex> hold(t->lock);
  for (ServiceNode** at = &t->nodes; *at; at = &(*at)->next) {
    if (*at == node) {
      *at = node->next;
      node->next = nullptr;
      --t->node_count;
      return true;
    }
  }
  return false;
}

}  // namespace

void service_node_remove(ServiceNode* a, ServiceThread** a_thread, ServiceNode* b, ServiceThread** b_thread) {
  // Unlinking takes the thread's lock, which a running pass holds: once it returns no pass can
  // still be running the node.
  bool lost_a = a && a_thread && *a_thread && unlink(*a_thread, a);
  bool lost_b = b && b_thread && *b_thread && unlink(*b_thread, b);
  if (lost_a && !(*a_thread)->nodes) {
    service_thread_destroy(*a_thread);
    *a_thread = nullptr;
  }
  if (lost_b && !(*b_thread)->nodes) {
    service_thread_destroy(*b_thread);
    *b_thread = nullptr;
  }
  for (ServiceNode* n : {a, b}) {
    if (n && n->mutex) {
      delete n->mutex;
      n->mutex = nullptr;
    }
  }
}
