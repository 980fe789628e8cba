#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/DBusNotificationCenter.h"
#include "platform/QtReceiverPlatform.h"
#include "platform/QtRunLoop.h"
#include "platform/StdoutLogSink.h"
#include "platform/SteadyClock.h"
#include "platform/XdgContainerLocator.h"
#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"

namespace {

const std::string newFrame(config::newFrameNotificationName);

// Sends signals from a bus connection of its own, as another program would.
class SignalSender {
  public:
    SignalSender()
        : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                    QStringLiteral("lmv-test-sender"))) {}
    ~SignalSender() { QDBusConnection::disconnectFromBus(QStringLiteral("lmv-test-sender")); }

    bool send(const char* path, const char* interface, const char* member,
              const QVariantList& arguments = {}) {
        auto message = QDBusMessage::createSignal(
            QString::fromUtf8(path), QString::fromUtf8(interface), QString::fromUtf8(member));
        message.setArguments(arguments);
        return connection_.send(message);
    }

  private:
    QDBusConnection connection_;
};

class DBusNotificationCenterTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "these tests need a D-Bus session bus (run them under scripts/with-daemons.sh)";
    }

    // Registers a counter under `observer`.
    void count(const void* observer, int& counter, const std::string& name = newFrame) {
        std::string failure;
        ASSERT_TRUE(center.addObserver(
            observer, name, [&counter] { ++counter; }, failure))
            << failure;
        EXPECT_TRUE(failure.empty());
    }

    DBusNotificationCenter center;
    SignalSender sender;
    const int observerA = 0;
    const int observerB = 0;
};

TEST_F(DBusNotificationCenterTest, ASignalFromDbusSendReachesTheCallbackFromAnyPath) {
    int delivered = 0;
    count(&observerA, delivered);
    // The way a host posts it.
    ASSERT_EQ(
        QProcess::execute("dbus-send", {"--session", "--type=signal", "/com/lumetra/visualizer",
                                        "com.lumetra.visualizer.newFrame"}),
        0);
    ASSERT_TRUE(runEventLoopUntil([&] { return delivered == 1; }));
    // Another object path, and arguments, which are not read.
    ASSERT_EQ(QProcess::execute("dbus-send",
                                {"--session", "--type=signal", "/some/other/object",
                                 "com.lumetra.visualizer.newFrame", "string:ignored", "uint32:7"}),
              0);
    ASSERT_TRUE(runEventLoopUntil([&] { return delivered == 2; }));
}

TEST_F(DBusNotificationCenterTest, OnlyTheNamedSignalIsDeliveredFromAnotherConnection) {
    int delivered = 0;
    count(&observerA, delivered);
    EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer", "oldFrame"));
    EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra", "newFrame"));
    EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer.newFrame", "x"));
    EXPECT_TRUE(sender.send("/", "com.lumetra.visualizer", "newFrame"));
    // Signals of one sender arrive in sending order: once the last one is here, the others
    // would have been too.
    ASSERT_TRUE(runEventLoopUntil([&] { return delivered >= 1; }));
    ASSERT_TRUE(runPostedJobs());
    EXPECT_EQ(delivered, 1);
}

TEST_F(DBusNotificationCenterTest, EveryRegistrationCountsEverySignal) {
    int first = 0, second = 0;
    count(&observerA, first);
    count(&observerA, second);
    for (int i = 0; i < 25; ++i) {
        EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame"));
    }
    ASSERT_TRUE(runEventLoopUntil([&] { return first == 25 && second == 25; }));
}

TEST_F(DBusNotificationCenterTest, RemovingAnObserverRemovesAllItsRegistrations) {
    int a1 = 0, a2 = 0, b = 0;
    count(&observerA, a1);
    count(&observerA, a2);
    count(&observerB, b);
    center.removeObserver(&observerA);
    EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame"));
    EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame"));
    ASSERT_TRUE(runEventLoopUntil([&] { return b == 2; }));
    EXPECT_EQ(a1, 0);
    EXPECT_EQ(a2, 0);
    // Removing an observer that has nothing registered changes nothing.
    center.removeObserver(&observerA);
    center.removeObserver(nullptr);
    EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame"));
    ASSERT_TRUE(runEventLoopUntil([&] { return b == 3; }));
}

TEST_F(DBusNotificationCenterTest, ACallbackMayRemoveItsOwnObserver) {
    int a = 0, b = 0;
    std::string failure;
    ASSERT_TRUE(center.addObserver(
        &observerA, newFrame,
        [&] {
            ++a;
            center.removeObserver(&observerA);
        },
        failure));
    count(&observerB, b);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(sender.send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame"));
    }
    ASSERT_TRUE(runEventLoopUntil([&] { return b == 3; }));
    EXPECT_EQ(a, 1);
}

TEST_F(DBusNotificationCenterTest, ANameWithoutAnInterfaceIsRefusedWithAReason) {
    for (const std::string name : {"newFrame", ".newFrame", "com.lumetra.visualizer."}) {
        std::string failure;
        EXPECT_FALSE(center.addObserver(
            &observerA, name, [] {}, failure))
            << name;
        EXPECT_FALSE(failure.empty()) << name;
    }
}

TEST(QtReceiverPlatform, WiresTheRealAdapters) {
    auto relay = std::make_shared<RecordingRelayFactory>(std::make_shared<Journal>());
    const ReceiverPlatform platform = makeQtReceiverPlatform(relay);
    EXPECT_NE(dynamic_cast<QtRunLoop*>(platform.runLoop.get()), nullptr);
    EXPECT_NE(dynamic_cast<DBusNotificationCenter*>(platform.notifications.get()), nullptr);
    EXPECT_NE(dynamic_cast<XdgContainerLocator*>(platform.containers.get()), nullptr);
    EXPECT_NE(dynamic_cast<SteadyClock*>(platform.clock.get()), nullptr);
    EXPECT_NE(dynamic_cast<StdoutLogSink*>(platform.log.get()), nullptr);
    EXPECT_EQ(platform.relay, relay);
}

// Runs in a child process: the session bus connection is made once per process, so only a
// fresh one can meet a bus address that leads nowhere.
[[noreturn]] void listenWithoutABus() {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lmv-no-bus", 1);
    DBusNotificationCenter center;
    std::string failure;
    const int observer = 0;
    if (center.addObserver(
            &observer, newFrame, [] {}, failure) ||
        failure.empty()) {
        std::fprintf(stderr, "registered without a bus\n");
        std::_Exit(1);
    }
    std::fprintf(stderr, "no-bus reason: %s\n", failure.c_str());

    // A receiver on the real adapters says so in one line and goes on polling.
    const int status = [&failure] {
        TempDirectory folder;
        auto journal = std::make_shared<Journal>();
        ReceiverPlatform platform =
            makeQtReceiverPlatform(std::make_shared<RecordingRelayFactory>(journal));
        platform.log = std::make_shared<RecordingLog>(journal);
        platform.containers = std::make_shared<FakeContainerLocator>(folder.path());
        if (!TextureReceiver::create(gpu::Device::create(), platform)) return 2;
        const auto lines = journal->logLines();
        const std::string expected =
            "❌ Failed to listen for frames from Lumetra: " + failure + " (polling only)";
        const auto has = [&lines](const std::string& line) {
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        };
        if (!has(expected) || !has("⏱️ Polling timer started (60Hz)")) {
            for (const auto& line : lines) std::fprintf(stderr, "log: %s\n", line.c_str());
            return 3;
        }
        std::fprintf(stderr, "receiver logged: %s\n", expected.c_str());
        return 0;
    }();
    std::fflush(stderr);
    std::_Exit(status);
}

TEST(DBusNotificationCenterWithoutBus, AddObserverFailsWithAReason) {
    EXPECT_EXIT(listenWithoutABus(), testing::ExitedWithCode(0),
                "no-bus reason: .+\nreceiver logged: ");
}

}  // namespace
