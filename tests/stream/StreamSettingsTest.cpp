// The stream settings as the command line and the configuration file give them: each malformed
// one refused with the field and the rule, each good one taken with the values it means.
#include <gtest/gtest.h>

#include <fstream>

#include "stream/StreamSettings.h"
#include "tests/support/TempDirectory.h"

namespace {

// The parsed values, or "❌ " and the failure.
std::string outcome(const char* key, const std::string& value) {
    StreamSettings s;
    std::string failure;
    TempDirectory folder;  // key "file": `value` is a configuration file's text
    const auto file = folder.path() / "lm-vuzadivirur.conf";
    std::ofstream(file) << value;
    if (key == std::string_view("file") ? !s.applyFile(file, failure)
                                        : !s.apply(key, value, failure)) {
        if (failure.starts_with(file.string())) failure.replace(0, file.string().size(), "FILE");
        return "❌ " + failure;
    }
    return (s.mode == StreamSettings::Mode::caller ? "caller " : "listener ") + s.endpoint() +
           " '" + s.passphrase + "' " + std::to_string(s.latency) + "ms key " +
           std::to_string(s.keyLength) + (s.exposed() ? " exposed " : " ") +
           std::to_string(s.width) + "x" + std::to_string(s.height) + "@" + std::to_string(s.fps);
}

const std::string escape = "must start an escape of two hex digits (%25 for '%' itself)";
struct Row {
    const char* key;
    std::string value, expected;
};
const Row rows[] = {
    {"stream", "srt://127.0.0.1:9101?mode=listener&passphrase=50%off-long-secret",
     "❌ stream passphrase: '%' " + escape},
    {"stream", "srt://127.0.0.1:abc?mode=listener&passphrase=long-enough-secret",
     "❌ stream port: must be a number from 1 to 65535, not 'abc'"},
    {"stream", "srt://127.0.0.1:9101?passphrase=nine-char",
     "❌ stream passphrase: must be 10 to 79 characters (bytes, no %00), not 9"},
    {"stream", "srt://h:1?passphrase=" + std::string(80, 'p'),
     "❌ stream passphrase: must be 10 to 79 characters (bytes, no %00), not 80"},
    {"stream", "srt://h:1?passphrase=ten-chars%00",
     "❌ stream passphrase: must be 10 to 79 characters (bytes, no %00), not 10"},
    {"stream", "srt://127.0.0.1:9101?passphrase=xmode=caller-secret",
     "listener 127.0.0.1:9101 'xmode=caller-secret' 125ms key 0 0x0@0"},
    {"stream", "srt://192.168.1.20:9000?mode=caller&passphrase=50%25off%20secret&latency=40",
     "caller 192.168.1.20:9000 '50%off secret' 40ms key 0 0x0@0"},
    {"stream", "srt://[::1]:9000?pbkeylen=32&passphrase=long-enough-secret&",
     "listener [::1]:9000 'long-enough-secret' 125ms key 32 0x0@0"},
    {"stream", "srt://0.0.0.0:9000", "listener 0.0.0.0:9000 '' 125ms key 0 exposed 0x0@0"},
    {"stream", "srt://localhost:9000?mode=listener",
     "listener localhost:9000 '' 125ms key 0 0x0@0"},
    {"stream", "udp://h:1", "❌ stream address: must start with srt:// (srt://HOST:PORT)"},
    {"stream", "srt://:9000", "❌ stream host: required (srt://HOST:PORT)"},
    {"stream", "srt://::1:9000",
     "❌ stream host: may hold only letters, digits, '.', '-' and '_' (an IPv6 address goes "
     "in brackets)"},
    {"stream", "srt://h?mode=caller", "❌ stream port: required (srt://HOST:PORT)"},
    {"stream", "srt://h:65536", "❌ stream port: must be a number from 1 to 65535, not '65536'"},
    {"stream", "srt://h:1?mode=rendezvous",
     "❌ stream mode: must be listener or caller, not 'rendezvous'"},
    {"stream", "srt://h:1?mode=caller&mode=listener", "❌ stream mode: given twice"},
    {"stream", "srt://h:1?latency=4%2", "❌ stream latency: '%' " + escape},
    {"stream", "srt://h:1?latency=60001",
     "❌ stream latency: must be a number of milliseconds from 0 to 60000, not '60001'"},
    {"stream", "srt://h:1?pbkeylen=16", "❌ stream pbkeylen: needs a passphrase"},
    {"stream", "srt://h:1?passphrase=long-enough-secret&pbkeylen=20",
     "❌ stream pbkeylen: must be 16, 24 or 32, not '20'"},
    {"stream", "srt://h:1?streamid=x",
     "❌ stream address: unknown option 'streamid' (it takes mode, passphrase, latency and "
     "pbkeylen)"},
    {"stream-size", "7680x4320", "listener :0 '' 125ms key 0 7680x4320@0"},
    {"stream-size", "641x361",
     "❌ stream-size: must be WxH with even numbers from 16x16 to 7680x4320, not '641x361'"},
    {"stream-size", "7682x4320",
     "❌ stream-size: must be WxH with even numbers from 16x16 to 7680x4320, not '7682x4320'"},
    {"stream-size", "1280",
     "❌ stream-size: must be WxH with even numbers from 16x16 to 7680x4320, not '1280'"},
    {"stream-fps", "241",
     "❌ stream-fps: must be a number of frames per second from 1 to 240, not '241'"},
    {"file", "# mine\n\n stream = srt://h:9000?passphrase=long-enough-secret \nstream-fps=30\n",
     "listener h:9000 'long-enough-secret' 125ms key 0 0x0@30"},
    {"file", "stream-fps=30\n\nstream=srt://h:abc\n",
     "❌ FILE:3: stream port: must be a number from 1 to 65535, not 'abc'"},
    {"file", "fps=30\n",
     "❌ FILE:1: unknown setting 'fps' (camera-name, stream, stream-size, stream-fps, record or "
     "record-quality)"},
};

TEST(StreamSettingsTest, EachSettingIsTakenWholeOrRefusedWithItsRule) {
    for (const auto& row : rows) EXPECT_EQ(outcome(row.key, row.value), row.expected) << row.value;
}

}  // namespace
