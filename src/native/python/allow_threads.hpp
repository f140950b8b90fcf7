// Native work that touches no Python object runs with the interpreter lock
// released, so that other threads run meanwhile.
#pragma once

#include <Python.h>

namespace ozra::py {

// Releases the interpreter lock for its scope and takes it back at the end,
// also when the scope is left by an exception. Nothing inside may touch a
// Python object or call the C API.
class AllowThreads {
public:
    AllowThreads() noexcept : state_(PyEval_SaveThread()) {}
    ~AllowThreads() { PyEval_RestoreThread(state_); }
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;

private:
    PyThreadState* state_;
};

// Runs `work()`, with the interpreter lock released when `release` is true
// (the caller has judged the work long enough and its memory out of reach).
template <class Work>
decltype(auto) run_released_if(bool release, Work&& work) {
    if (!release) return work();
    AllowThreads unlocked;
    return work();
}

}  // namespace ozra::py
