#pragma once
// Work that a port's comm thread does once its pass over the port's bytes is over, outside the
// pass: the report lines the pass completed are written there, where their bytes came in, and no
// other thread is woken for them. On any other thread nothing is collected.

#include <functional>
#include <utility>
#include <vector>

class AfterPass {
public:
    // Collects on this thread until Take or the end of the scope; one at a time on a thread.
    AfterPass();
    // Work still collected runs here, so that none is left undone when a pass ends by an exception.
    ~AfterPass();
    AfterPass(const AfterPass&) = delete;
    AfterPass& operator=(const AfterPass&) = delete;

    // What was added, in order; collecting ends.
    std::vector<std::function<void()>> Take();

    // True on a thread that collects: the work added then runs after its pass.
    static bool Collecting();
    static void Add(std::function<void()> work);

private:
    std::vector<std::function<void()>> work_;
};
