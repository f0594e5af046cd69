// Work that must come out in the order it went in, done in between on
// several threads. A phase hands its items out one at a time from the
// calling thread (fill), has them worked on by any thread (work), and takes
// the results back on the calling thread in the order they were handed out
// (drain). Everything the rest of the run can see (files written, messages,
// counts) belongs in fill and drain, so that the output is the same whatever
// the number of threads; work touches only its own item and data that no one
// changes while the run lasts.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// The number of processors this process may run on (at least 1): the cores
// of the machine, or fewer when the process was confined to some of them.
unsigned usableCores();

// The threads a phase should start besides the calling one: none on a single
// core, where handing items over would only add to the work.
inline unsigned helperThreads() {
  return usableCores() - 1;
}

// Runs items through fill, work and drain:
//   bool fill(Slot&)   on the calling thread, in order, until it returns false
//                      (no more items); it sets up the next item in the slot.
//   void work(Slot&, unsigned worker)
//                      on any thread, once for each item filled; worker is 0
//                      on the calling thread and 1 to helpers on the others,
//                      so that each thread can keep things of its own (a
//                      reader, a directory cache) in an array by that number.
//   bool drain(Slot&)  on the calling thread, in the order filled; false
//                      stops the run (nothing further is filled or drained).
// At most `window` items are between fill and drain at once; slots are
// reused, so buffers kept in them keep their capacity. With helpers == 0
// every item is filled, worked and drained in turn on the calling thread,
// before the next is filled. Otherwise up to `window` items are filled ahead
// of the oldest one's drain, and the calling thread works on items too while
// it waits. When the system refuses a thread, the threads started (the
// calling one at least) do all the work. Each item should be worth a few
// microseconds of work at least (a batch of pages, not one reference), or
// handing it over costs more than it saves.
template <class Slot, class Fill, class Work, class Drain>
void runInOrder(unsigned helpers, size_t window, Fill&& fill, Work&& work, Drain&& drain) {
  if (window == 0) window = 1;
  if (helpers == 0) {
    Slot slot;
    while (fill(slot)) {
      work(slot, 0u);
      if (!drain(slot)) return;
    }
    return;
  }

  std::vector<Slot> slots(window);
  std::vector<unsigned char> done(window, 0);
  std::mutex mutex;
  std::condition_variable workReady;  // an item was filled, or the run ends
  std::condition_variable itemDone;   // an item's work finished
  size_t filled = 0;                  // items filled so far
  size_t claimed = 0;                 // items whose work has been taken
  bool quit = false;

  // Takes the oldest item nobody works on yet, works on it and marks it done.
  // Called with the lock held; returns with it held.
  auto workOne = [&](std::unique_lock<std::mutex>& lock, unsigned worker) {
    const size_t item = claimed++;
    lock.unlock();
    work(slots[item % window], worker);
    lock.lock();
    done[item % window] = 1;
    itemDone.notify_all();
  };

  std::vector<std::thread> threads;
  threads.reserve(helpers);
  for (unsigned i = 0; i < helpers; ++i) {
    try {
      threads.emplace_back([&, worker = i + 1] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
          workReady.wait(lock, [&] { return quit || claimed < filled; });
          if (quit) return;
          workOne(lock, worker);
        }
      });
    } catch (const std::system_error&) {
      break;  // the system gives no more threads: those started do the work
    }
  }

  bool inputEnded = false;
  size_t drained = 0;
  for (;;) {
    while (!inputEnded && filled - drained < window) {
      Slot& slot = slots[filled % window];
      if (!fill(slot)) {
        inputEnded = true;
        break;
      }
      std::lock_guard<std::mutex> lock(mutex);
      done[filled % window] = 0;
      ++filled;
      workReady.notify_one();
    }
    if (drained == filled) break;
    {
      std::unique_lock<std::mutex> lock(mutex);
      while (!done[drained % window]) {
        if (claimed < filled) {
          workOne(lock, 0u);
        } else {
          itemDone.wait(lock);
        }
      }
    }
    if (!drain(slots[drained % window])) break;
    ++drained;
  }

  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  workReady.notify_all();
  for (std::thread& thread : threads) thread.join();
}
