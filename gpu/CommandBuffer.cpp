#include "gpu/CommandBuffer.h"

namespace gpu {

void CommandBuffer::encode(std::function<void()> work) {
    if (status_ == Status::NotCommitted && work) work_.push_back(std::move(work));
}

void CommandBuffer::commit() {
    if (status_ != Status::NotCommitted) return;
    status_ = Status::Completed;
    auto work = std::move(work_);
    for (auto& job : work) job();
}

}  // namespace gpu
