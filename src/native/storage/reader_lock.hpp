// One thread at a time in a reader. The reads of spectrum points release the
// interpreter lock; while one thread is inside, another must not move the
// reader or reuse its buffers. The thread holding the lock may take it again
// (one public operation holds it around the reader calls it makes, so that no
// other thread's read runs between its set-position and read steps, as when
// the interpreter lock was held throughout).
#pragma once

#include "python/allow_threads.hpp"

#include <atomic>
#include <mutex>
#include <thread>

namespace ozra::storage {

class ReaderLock {
public:
    // Called with the interpreter lock held. Waits for another thread's hold
    // with the interpreter lock released, so the holder can go on.
    void acquire() {
        const std::thread::id me = std::this_thread::get_id();
        if (owner_.load(std::memory_order_relaxed) == me) {
            ++depth_;
            return;
        }
        if (!mutex_.try_lock()) {
            py::AllowThreads waiting;
            mutex_.lock();
        }
        owner_.store(me, std::memory_order_relaxed);
        depth_ = 1;
    }

    // Whether the calling thread holds the lock.
    bool held_here() const noexcept {
        return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }

    // By the thread that acquired, once per acquire().
    void release() noexcept {
        if (--depth_ > 0) return;
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        mutex_.unlock();
    }

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};  // written only by the holder
    unsigned depth_ = 0;                    // used only by the holder
};

}  // namespace ozra::storage
