// A helper thread that runs one job at a time for its owner (a movie that decodes or copies
// with more than one thread). The owner hands it a job, does its own share, then waits:
//
//   Worker* w = worker_create();          // null: no thread (out of memory, or a host without threads)
//   worker_start(w, decode_chroma, &job);
//   decode_luma(...);
//   worker_wait(w);                       // the job's writes are visible from here on
//   worker_destroy(w);
//
// One owner thread drives a worker; jobs do not overlap.
#pragma once

struct Worker;
using worker_job_fn = void (*)(void* arg);

Worker* worker_create();
void worker_destroy(Worker* w);
void worker_start(Worker* w, worker_job_fn job, void* arg);
void worker_wait(Worker* w);
