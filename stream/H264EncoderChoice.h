#pragma once

#include <cstdint>
#include <string>

// What the H.264 is for: the network stream wants the least delay; a recording wants quality per
// bit and may queue; a lossless recording keeps every value of the converted frames.
enum class H264Purpose { stream, recording, losslessRecording };

// The H.264 encoder element for `purpose`, named "encoder", with a key frame every `keyInterval`
// frames: the first hardware encoder that opens on this machine, else x264; a lossless recording
// always x264 (quantizer 0), which hardware encoders do not offer alike. Probes the hardware, so
// GStreamer must have started.
std::string chooseH264Encoder(uint32_t keyInterval, H264Purpose purpose = H264Purpose::stream);
