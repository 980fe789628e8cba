#include "app/StreamingRelayFactory.h"

#include <vector>

#include "app/RelayFanOut.h"
#include "stream/GstStreamServer.h"

FrameSinkFactory::Result StreamingRelayFactory::create(
    const std::string& name, std::shared_ptr<gpu::FrameStore> frameStore) {
    Result result = relay_->create(name, std::move(frameStore));
    // Never the passphrase.
    const std::string where = "srt://" + settings_.endpoint();
    std::string failure;
    std::unique_ptr<FrameSink> stream = GstStreamServer::create(settings_, log_, runLoop_, failure);
    if (!stream) {
        log_->line("❌ No network stream to " + where + ": " + failure);
        return result;
    }
    log_->line("📡 Streaming to " + where);
    if (settings_.exposed()) {
        log_->line("⚠️ Network stream: a listener without a passphrase on " +
                   settings_.endpoint() + ": anyone who can reach the port can watch");
    }
    std::vector<std::unique_ptr<FrameSink>> servers;
    if (result.server) servers.push_back(std::move(result.server));
    servers.push_back(std::move(stream));
    result.server = std::make_unique<RelayFanOut>(std::move(servers));
    return result;
}
