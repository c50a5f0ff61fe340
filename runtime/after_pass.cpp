#include "runtime/after_pass.h"

namespace {

thread_local std::vector<std::function<void()>>* collecting = nullptr;

} // namespace

AfterPass::AfterPass() {
    collecting = &work_;
}

AfterPass::~AfterPass() {
    collecting = nullptr;
    for (std::function<void()>& work : work_) {
        try {
            work();
        } catch (...) {
        }
    }
}

std::vector<std::function<void()>> AfterPass::Take() {
    collecting = nullptr;
    return std::exchange(work_, {});
}

bool AfterPass::Collecting() {
    return collecting != nullptr;
}

void AfterPass::Add(std::function<void()> work) {
    collecting->push_back(std::move(work));
}
