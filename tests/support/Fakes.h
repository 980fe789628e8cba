#pragma once

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ReceiverPlatform.h"

// A run loop whose jobs and ticks run only when the test says so.
class FakeRunLoop : public RunLoop {
  public:
    void post(std::function<void()> job) override { jobs_.push_back(std::move(job)); }
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds,
                                                      std::function<void()> tick) override {
        timers_.push_back(std::make_shared<std::function<void()>>(std::move(tick)));
        return std::make_unique<Handle>(timers_.back());
    }
    // Descriptors are the real loops' business: none here.
    std::unique_ptr<DescriptorWatch> watchReadable(int, std::function<void()>) override {
        return nullptr;
    }

    void runPendingJobs() {  // the front job is taken out before it runs: it may post more
        for (; !jobs_.empty(); jobs_.pop_front()) std::exchange(jobs_.front(), nullptr)();
    }
    void tickTimers() {  // every live timer once
        for (const auto& tick : std::vector(timers_))
            if (const auto copy = *tick) copy();  // a tick may invalidate its own timer
    }
    size_t liveTimers() const {
        return std::ranges::count_if(timers_, [](const auto& tick) { return bool(*tick); });
    }

  private:
    struct Handle : RepeatingTimer {  // an invalidated timer's tick is emptied
        explicit Handle(std::shared_ptr<std::function<void()>> tick) : tick(std::move(tick)) {}
        ~Handle() override { invalidate(); }
        void invalidate() override { *tick = nullptr; }
        std::shared_ptr<std::function<void()>> tick;
    };
    std::deque<std::function<void()>> jobs_;
    std::vector<std::shared_ptr<std::function<void()>>> timers_;
};

class FakeFrameSignal : public FrameSignal {
  public:
    bool subscribe(const void*, const std::string&, std::function<void()>,
                   std::string& failure) override {
        failure = refuseWith.value_or("");
        return !refuseWith;
    }
    void unsubscribe(const void* subscriber) override { removals.push_back(subscriber); }

    std::optional<std::string> refuseWith;
    std::vector<const void*> removals;
};

// The host's folder, found only for the host's group.
class FakeSharedFolderLocator : public SharedFolderLocator {
  public:
    explicit FakeSharedFolderLocator(std::optional<std::filesystem::path> folder)
        : folder_(folder) {}
    std::optional<std::filesystem::path> sharedFolder(std::string_view group) override {
        return group == "group.com.lumetra.visualizer" ? folder_ : std::nullopt;
    }

  private:
    std::optional<std::filesystem::path> folder_;
};

struct FakeClock : Clock {
    double now() override { return time; }
    double time = 1000.0;
};

// Log lines and relay calls ("relay: ...") in one ordered record, to check the one against the
// other, and the textures relayed.
struct Journal {
    std::vector<std::string> entries;
    std::vector<std::shared_ptr<gpu::Texture>> publications;
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::ranges::copy_if(entries, std::back_inserter(lines),
                             [](const auto& entry) { return !entry.starts_with("relay:"); });
        return lines;
    }
};

struct RecordingLog : LogSink {
    explicit RecordingLog(std::shared_ptr<Journal> journal) : journal(std::move(journal)) {}
    void line(std::string_view text) override { journal->entries.emplace_back(text); }
    std::shared_ptr<Journal> journal;
};

class RecordingRelayFactory : public FrameSinkFactory {
  public:
    explicit RecordingRelayFactory(std::shared_ptr<Journal> journal) : journal_(journal) {}
    Result create(const std::string& name, std::shared_ptr<gpu::FrameStore>) override {
        journal_->entries.push_back("relay: create " + name);
        return Result{std::make_unique<Relay>(journal_), failure};
    }

    std::string failure;  // when set, creation reports it

  private:
    struct Relay : FrameSink {
        explicit Relay(std::shared_ptr<Journal> journal) : journal(std::move(journal)) {}
        ~Relay() override { journal->entries.push_back("relay: destroyed"); }
        void publishFrame(std::shared_ptr<gpu::Texture> texture) override {
            journal->publications.push_back(std::move(texture));
            journal->entries.push_back("relay: publish");
        }
        void stop() override { journal->entries.push_back("relay: stop"); }
        std::shared_ptr<Journal> journal;
    };
    std::shared_ptr<Journal> journal_;
};

// A complete set of fakes, wired to one journal.
struct FakePlatform {
    explicit FakePlatform(std::optional<std::filesystem::path> container)
        : sharedFolders(std::make_shared<FakeSharedFolderLocator>(container)) {}
    ReceiverPlatform platform() const {
        return {runLoop, frameSignal, sharedFolders, clock, std::make_shared<RecordingLog>(journal),
                relay};
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<FakeRunLoop> runLoop = std::make_shared<FakeRunLoop>();
    std::shared_ptr<FakeFrameSignal> frameSignal = std::make_shared<FakeFrameSignal>();
    std::shared_ptr<SharedFolderLocator> sharedFolders;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<RecordingRelayFactory> relay = std::make_shared<RecordingRelayFactory>(journal);
};
