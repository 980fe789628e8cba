#include "receiver/BusErrorGuard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace {

thread_local sigjmp_buf* activeJump = nullptr;
struct sigaction previousAction {};

void onBusError(int signal, siginfo_t* info, void* context) {
    if (activeJump != nullptr) siglongjmp(*activeJump, 1);
    // Not one of ours: hand it on as if we had never been there.
    if (previousAction.sa_flags & SA_SIGINFO) {
        if (previousAction.sa_sigaction) return previousAction.sa_sigaction(signal, info, context);
    } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
        return previousAction.sa_handler(signal);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void installHandler() {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousAction);
}

}  // namespace

bool BusErrorGuard::runWithGuard(void (*function)(void*), void* context) {
    static std::once_flag installed;
    std::call_once(installed, installHandler);

    sigjmp_buf jump;
    sigjmp_buf* const outer = activeJump;
    // SA_NODEFER keeps SIGBUS unblocked in the handler, so the mask need not be saved.
    if (sigsetjmp(jump, 0) != 0) {
        activeJump = outer;
        return false;
    }
    activeJump = &jump;
    function(context);
    activeJump = outer;
    return true;
}
