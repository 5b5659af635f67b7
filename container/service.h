// The process-wide service threads: one input thread (every 200 ms) that keeps the movies'
// read-ahead rings filled and one sound thread (every 50 ms) that feeds their sound. Each open
// movie registers a node with each thread it needs; a pass asks every node for its priority and
// runs the most urgent node whose mutex is free, until no node has anything to do.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct ServiceNode;
// Priority of a node in a pass: 0 = nothing to do; compared as unsigned numbers.
using service_priority_fn = uint32_t (*)(ServiceNode* node, uint32_t pass);
using service_work_fn = void (*)(ServiceNode* node, uint32_t pass);

struct ServiceNode {
  ServiceNode* next;
  std::recursive_mutex* mutex;  // created when the node is added; the owner's lock
  service_priority_fn priority;
  service_work_fn work;
  uint32_t found_priority;      // in the current pass
  ServiceNode* next_in_order;
  uint32_t last_pass;           // the pass in which the node last ran its work
  void* owner;                  // the movie (or reader) the node serves
};

enum ServiceState : uint32_t {
  kServiceCreated = 0,   // suspended
  kServiceRunning = 1,
  kServiceHeld = 2,
  kServiceStopping = 3,
  kServiceHolding = 4,
};

struct ServiceThread {
  uint32_t state;  // ServiceState; read by the thread without the lock
  uint32_t period_ms;
  std::mutex event_lock;  // guards stop_event and resumed
  std::condition_variable event;
  bool stop_event;
  bool resumed;
  std::thread thread;
  std::recursive_mutex lock;  // held during each pass and while the node list changes
  ServiceNode* nodes;
  uint32_t pass;
  uint32_t node_count;
};

// Rate in passes a second: 5 for the input thread, 20 for the sound thread. The thread starts
// suspended.
ServiceThread* service_thread_create(uint32_t rate);
void service_thread_start(ServiceThread* t);
// Holds one or two threads (no pass runs until they are started again).
void service_thread_hold(ServiceThread* a, ServiceThread* b);
void service_thread_destroy(ServiceThread* t);
// Links the node at the head of the thread's list (creating its mutex).
void service_node_add(ServiceNode* node, service_priority_fn priority, service_work_fn work, ServiceThread* t);
// Unlinks up to two nodes from their threads; a thread left without nodes is destroyed and its
// pointer (*a_thread / *b_thread) cleared; otherwise it is held until no pass runs the node.
// The nodes' mutexes are released at the end.
void service_node_remove(ServiceNode* a, ServiceThread** a_thread, ServiceNode* b, ServiceThread** b_thread);
// One pass, as the thread runs it (tests call it directly on a thread that was never started).
void service_run_pass(ServiceThread* t);

// The two process-wide threads (null when not running). Created on first need by movie open.
ServiceThread** service_input_thread();
ServiceThread** service_sound_thread();
// Guards the two pointers above while a movie opens or closes.
std::mutex& service_threads_lock();
