#pragma once

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ReceiverPlatform.h"

// A run loop whose jobs and ticks run only when the test says so.
class FakeRunLoop : public RunLoop {
  public:
    void post(std::function<void()> job) override { jobs.push_back(std::move(job)); }
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds interval,
                                                      std::function<void()> tick) override;
    // Descriptors are the real loops' business: none here.
    std::unique_ptr<DescriptorWatch> watchReadable(int, std::function<void()>) override {
        return nullptr;
    }

    // Runs the jobs queued so far (and any they queue); returns how many ran.
    size_t runPendingJobs();
    // Fires every live timer once.
    void tickTimers();
    size_t liveTimers() const;

    std::deque<std::function<void()>> jobs;
    std::vector<std::chrono::nanoseconds> scheduledIntervals;
    bool refuseTimers = false;

  private:
    struct TimerState {
        std::function<void()> tick;
        bool valid = true;
    };
    class Timer;
    std::vector<std::shared_ptr<TimerState>> timers_;
};

class FakeNotificationCenter : public NotificationCenter {
  public:
    bool addObserver(const void* observer, const std::string& name, std::function<void()> callback,
                     std::string& failure) override;
    void removeObserver(const void* observer) override;
    // Delivers a notification to every registration for `name`.
    void post(const std::string& name);

    std::optional<std::string> refuseWith;
    std::multimap<const void*, std::pair<std::string, std::function<void()>>> registrations;
    std::vector<const void*> removals;
};

class FakeContainerLocator : public ContainerLocator {
  public:
    explicit FakeContainerLocator(std::optional<std::filesystem::path> directory)
        : directory_(std::move(directory)) {}
    std::optional<std::filesystem::path> containerDirectory(std::string_view group) override {
        askedFor = std::string(group);
        return directory_;
    }
    std::string askedFor;

  private:
    std::optional<std::filesystem::path> directory_;
};

class FakeClock : public Clock {
  public:
    double now() override { return time; }
    double time = 1000.0;
};

// Records every log line and every relay call into one ordered journal, so that tests can check
// the order of log lines against server calls.
class Journal {
  public:
    std::vector<std::string> entries;
    std::vector<std::string> logLines() const;
};

class RecordingLog : public LogSink {
  public:
    explicit RecordingLog(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}
    void line(std::string_view text) override { journal_->entries.emplace_back(text); }

  private:
    std::shared_ptr<Journal> journal_;
};

struct Publication {
    std::shared_ptr<gpu::Texture> texture;
    gpu::Rect region;
    bool flipped = false;
    bool committed = false;
};

class RecordingRelayFactory : public RelayServerFactory {
  public:
    explicit RecordingRelayFactory(std::shared_ptr<Journal> journal)
        : journal_(std::move(journal)) {}
    Result create(const std::string& name, std::shared_ptr<gpu::Device> device) override;

    std::string failure;  // when set, creation reports it
    std::vector<std::string> createdNames;
    std::shared_ptr<std::vector<std::shared_ptr<Publication>>> publications =
        std::make_shared<std::vector<std::shared_ptr<Publication>>>();

  private:
    std::shared_ptr<Journal> journal_;
};

// A complete set of fakes, wired to one journal.
struct FakePlatform {
    explicit FakePlatform(std::optional<std::filesystem::path> container);
    ReceiverPlatform platform() const;

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<FakeRunLoop> runLoop = std::make_shared<FakeRunLoop>();
    std::shared_ptr<FakeNotificationCenter> notifications =
        std::make_shared<FakeNotificationCenter>();
    std::shared_ptr<FakeContainerLocator> containers;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::shared_ptr<RecordingRelayFactory> relay = std::make_shared<RecordingRelayFactory>(journal);
};
