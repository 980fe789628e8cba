#pragma once

#include <chrono>
#include <string_view>

// Compiled-in constants shared with the host. They must equal the host's values.
namespace config {

inline constexpr std::string_view sharedFolderName = "group.com.lumetra.visualizer";
inline constexpr std::string_view newFrameNotificationName = "com.lumetra.visualizer.newFrame";
inline constexpr std::string_view frameFileName = "shared_texture.bin";
inline constexpr std::string_view lockFileName = "shared_texture.lock";
inline constexpr std::string_view cameraName = "Lumetra Vuzadivirur";

// 1/60 s, exactly: the polling interval.
inline constexpr std::chrono::nanoseconds pollingInterval{16'666'667};
inline constexpr size_t frameRateHistoryLength = 30;
inline constexpr uint32_t progressLogStep = 60;

}  // namespace config
