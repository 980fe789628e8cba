#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace gpu {

// Collects work encoded on it and runs it, in encoding order, at `commit`. Resources the work
// needs are held by the encoded closures until the work has run.
class CommandBuffer {
  public:
    enum class Status { NotCommitted, Completed };

    void encode(std::function<void()> work);
    void commit();
    Status status() const { return status_; }

  private:
    std::vector<std::function<void()>> work_;
    Status status_ = Status::NotCommitted;
};

}  // namespace gpu
