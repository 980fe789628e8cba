#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>

#include "format/Configuration.h"
#include "platform/DBusFrameSignal.h"
#include "platform/DBusSignalName.h"
#include "tests/platform/EventLoopWait.h"

namespace {

const std::string newFrame(config::newFrameNotificationName);

TEST(DBusSignalName, TheLastDotSeparatesInterfaceAndMember) {
    using Parts = std::optional<std::pair<std::string, std::string>>;
    const std::pair<const char*, Parts> cases[] = {
        {"com.lumetra.visualizer.newFrame", {{"com.lumetra.visualizer", "newFrame"}}},
        {"a.b", {{"a", "b"}}},
        {"newFrame", std::nullopt},
        {".newFrame", std::nullopt},
        {"com.lumetra.", std::nullopt},
    };
    for (const auto& [name, parts] : cases) {
        const auto parsed = DBusSignalName::parse(name);
        const Parts got =
            parsed ? Parts{{parsed->interface.toStdString(), parsed->member.toStdString()}}
                   : std::nullopt;
        EXPECT_EQ(got, parts) << name;
    }
}

TEST(DBusFrameSignal, OnlyTheNamedSignalReachesTheCallbacksFromAnyPathUntilRemoval) {
    // Signals come from a connection of their own, as from another program, in sending order.
    QDBusConnection sender = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "sender");
    ASSERT_TRUE(sender.isConnected()) << "needs a session bus (scripts/with-daemons.sh)";
    const auto send = [&](const char* path, const char* interface, const char* member) {
        EXPECT_TRUE(sender.send(QDBusMessage::createSignal(path, interface, member)));
    };
    DBusFrameSignal center;
    int a = 0, b = 0, markers = 0;
    const auto countA = [&] { ++a; };
    std::string failure;
    ASSERT_TRUE(center.subscribe(&a, newFrame, countA, failure) &&
                center.subscribe(&a, newFrame, countA, failure) &&
                center.subscribe(
                    &b, newFrame, [&] { ++b, center.unsubscribe(&b); }, failure) &&
                center.subscribe(
                    &markers, "com.lumetra.test.marker", [&] { ++markers; }, failure))
        << failure;
    // Adding does not wait for the bus: once a marker arrives, the bus has every match rule,
    // since it handles the rules in the order they were added.
    int sent = 0;
    const auto mark = [&] { ++sent, send("/", "com.lumetra.test", "marker"); };
    ASSERT_TRUE(runEventLoopUntil([&] { return markers > 0 || (mark(), false); }));
    const auto deliverAll = [&] {
        mark();
        return runEventLoopUntil([&] { return markers == sent; });
    };
    send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame");
    send("/some/other/object", "com.lumetra.visualizer", "newFrame");
    send("/com/lumetra/visualizer", "com.lumetra.visualizer", "oldFrame");
    ASSERT_TRUE(deliverAll());
    EXPECT_EQ(a, 4);         // two registrations, two signals
    EXPECT_EQ(b, 1);         // it removed itself at the first
    center.unsubscribe(&a);  // both registrations go
    send("/com/lumetra/visualizer", "com.lumetra.visualizer", "newFrame");
    ASSERT_TRUE(deliverAll());
    EXPECT_EQ(a, 4);
    QDBusConnection::disconnectFromBus("sender");
}

}  // namespace
