#pragma once

#include <functional>
#include <vector>

// A payload-free signal emitted before each assignment to a published field.
class WillChangeSignal {
  public:
    using Slot = std::function<void()>;

    int connect(Slot slot) {
        slots_.push_back({nextId_, std::move(slot)});
        return nextId_++;
    }
    void disconnect(int id) {
        std::erase_if(slots_, [id](const auto& entry) { return entry.id == id; });
    }
    void send() const {
        // Copied so that a slot may connect or disconnect while the signal is delivered.
        const auto connected = slots_;
        for (const auto& entry : connected) entry.slot();
    }

  private:
    struct Entry {
        int id;
        Slot slot;
    };
    std::vector<Entry> slots_;
    int nextId_ = 1;
};
