#include "tests/relay/DaemonControl.h"

#include <QProcess>
#include <algorithm>
#include <cctype>

#include "tests/relay/RelayTestSupport.h"

namespace {

bool wireplumberJoined() {
    auto clients = relaytest::runTool("pw-cli", {"ls", "Client"}, std::chrono::seconds(5));
    std::string text = clients.output;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return clients.ok && text.find("wireplumber") != std::string::npos;
}

void end(QProcess& process, DaemonControl::Ending ending) {
    if (process.state() == QProcess::NotRunning) return;
    if (ending == DaemonControl::Ending::Kill) {
        process.kill();
    } else {
        process.terminate();
    }
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

}  // namespace

DaemonControl::DaemonControl()
    : pipewire_(std::make_unique<QProcess>()), wireplumber_(std::make_unique<QProcess>()) {
    // Their chatter goes to files beside their sockets, as the test script keeps it.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR", "/tmp");
    pipewire_->setProcessChannelMode(QProcess::MergedChannels);
    wireplumber_->setProcessChannelMode(QProcess::MergedChannels);
    pipewire_->setStandardOutputFile(runtime + "/pipewire.log", QIODevice::Append);
    wireplumber_->setStandardOutputFile(runtime + "/wireplumber.log", QIODevice::Append);
}

DaemonControl::~DaemonControl() { stop(); }

bool DaemonControl::start(std::string& failure) {
    pipewire_->start("pipewire", {});
    if (!pipewire_->waitForStarted()) {
        failure = "pipewire does not start";
        return false;
    }
    using namespace std::chrono_literals;
    if (!relaytest::spinUntil(
            [] {
                return relaytest::runTool("pw-cli", {"info", "0"}, 5s).ok;
            },
            20s)) {
        failure = "pipewire does not answer (see $XDG_RUNTIME_DIR/pipewire.log)";
        return false;
    }
    wireplumber_->start("wireplumber", {});
    if (!wireplumber_->waitForStarted()) {
        failure = "wireplumber does not start";
        return false;
    }
    if (!relaytest::spinUntil(wireplumberJoined, 20s)) {
        failure = "wireplumber does not join pipewire (see $XDG_RUNTIME_DIR/wireplumber.log)";
        return false;
    }
    return true;
}

void DaemonControl::stop(Ending ending) {
    end(*wireplumber_, ending);
    end(*pipewire_, ending);
}

bool DaemonControl::running() const { return pipewire_->state() != QProcess::NotRunning; }
