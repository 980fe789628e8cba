#include "tests/support/Fakes.h"

#include <algorithm>

class FakeRunLoop::Timer : public RepeatingTimer {
  public:
    explicit Timer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
    ~Timer() override { invalidate(); }
    void invalidate() override { state_->valid = false; }

  private:
    std::shared_ptr<TimerState> state_;
};

std::unique_ptr<RepeatingTimer> FakeRunLoop::scheduleRepeating(std::chrono::nanoseconds interval,
                                                               std::function<void()> tick) {
    if (refuseTimers) return nullptr;
    scheduledIntervals.push_back(interval);
    auto state = std::make_shared<TimerState>();
    state->tick = std::move(tick);
    timers_.push_back(state);
    return std::make_unique<Timer>(state);
}

size_t FakeRunLoop::runPendingJobs() {
    size_t ran = 0;
    while (!jobs.empty()) {
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job();
        ++ran;
    }
    return ran;
}

void FakeRunLoop::tickTimers() {
    const auto timers = timers_;
    for (const auto& timer : timers) {
        if (timer->valid) timer->tick();
    }
}

size_t FakeRunLoop::liveTimers() const {
    return std::count_if(timers_.begin(), timers_.end(), [](const auto& t) { return t->valid; });
}

bool FakeNotificationCenter::addObserver(const void* observer, const std::string& name,
                                         std::function<void()> callback, std::string& failure) {
    if (refuseWith) {
        failure = *refuseWith;
        return false;
    }
    registrations.emplace(observer, std::make_pair(name, std::move(callback)));
    return true;
}

void FakeNotificationCenter::removeObserver(const void* observer) {
    removals.push_back(observer);
    registrations.erase(observer);
}

void FakeNotificationCenter::post(const std::string& name) {
    std::vector<std::function<void()>> callbacks;
    for (const auto& [observer, registration] : registrations) {
        if (registration.first == name) callbacks.push_back(registration.second);
    }
    for (const auto& callback : callbacks) callback();
}

std::vector<std::string> Journal::logLines() const {
    std::vector<std::string> lines;
    for (const auto& entry : entries) {
        if (entry.rfind("relay:", 0) != 0) lines.push_back(entry);
    }
    return lines;
}

namespace {

class RecordingRelay : public RelayServer {
  public:
    RecordingRelay(std::shared_ptr<Journal> journal,
                   std::shared_ptr<std::vector<std::shared_ptr<Publication>>> publications)
        : journal_(std::move(journal)), publications_(std::move(publications)) {}
    ~RecordingRelay() override { journal_->entries.push_back("relay: destroyed"); }

    void publishFrameTexture(std::shared_ptr<gpu::Texture> texture,
                             gpu::CommandBuffer& commandBuffer, gpu::Rect region,
                             bool flipped) override {
        auto publication = std::make_shared<Publication>();
        publication->texture = texture;
        publication->region = region;
        publication->flipped = flipped;
        publications_->push_back(publication);
        journal_->entries.push_back("relay: publish");
        commandBuffer.encode([publication] { publication->committed = true; });
    }
    void stop() override { journal_->entries.push_back("relay: stop"); }

  private:
    std::shared_ptr<Journal> journal_;
    std::shared_ptr<std::vector<std::shared_ptr<Publication>>> publications_;
};

}  // namespace

RelayServerFactory::Result RecordingRelayFactory::create(const std::string& name,
                                                         std::shared_ptr<gpu::Device>) {
    createdNames.push_back(name);
    journal_->entries.push_back("relay: create " + name);
    return Result{std::make_unique<RecordingRelay>(journal_, publications), failure};
}

FakePlatform::FakePlatform(std::optional<std::filesystem::path> container)
    : containers(std::make_shared<FakeContainerLocator>(std::move(container))) {}

ReceiverPlatform FakePlatform::platform() const {
    return ReceiverPlatform{runLoop, notifications, containers, clock, log, relay};
}
