#pragma once

#include <cstdint>
#include <string>

// The H.264 encoder element for the stream's pipeline, named "encoder", with a key frame every
// `keyInterval` frames: the first hardware encoder that opens on this machine, with low-latency
// settings, else x264 with them. Probes the hardware, so GStreamer must have started.
std::string chooseH264Encoder(uint32_t keyInterval);
