#pragma once

#include <type_traits>
#include <utility>

// Reads of a shared mapping raise SIGBUS when the file has shrunk under them. The guard runs a
// read so that such a fault ends the read instead of the process.
class BusErrorGuard {
  public:
    // Runs `read()`; false when it was cut short by SIGBUS. `read` must own nothing that needs
    // destroying, since a fault leaves it without unwinding.
    template <typename Read>
    static bool run(Read&& read) {
        return runWithGuard(
            [](void* context) { (*static_cast<std::remove_reference_t<Read>*>(context))(); },
            &read);
    }

  private:
    static bool runWithGuard(void (*function)(void*), void* context);
};
