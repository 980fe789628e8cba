#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream/StreamSettings.h"

typedef struct _GstElement GstElement;

// The stream's GStreamer pipeline as the settings ask for it: appsrc, padding to even sizes,
// conversion and scaling to --stream-size, the encoder, MPEG-TS with its packets joined, and
// srtsink set from the parsed settings. Owns the pipeline; the elements it hands out live as long
// as it does.
class StreamPipeline {
  public:
    // Built, not yet started, with a key frame every `keyInterval` frames. None, with `failure`
    // naming the missing piece and its Debian package, when GStreamer or one of the elements is
    // missing, or saying why it does not build.
    static std::unique_ptr<StreamPipeline> build(const StreamSettings& settings,
                                                 uint32_t keyInterval, std::string& failure);
    // Stops the pipeline, which joins GStreamer's threads: no callback from it, nor from its
    // bus's handler, runs after this.
    ~StreamPipeline();
    StreamPipeline(const StreamPipeline&) = delete;
    StreamPipeline& operator=(const StreamPipeline&) = delete;

    GstElement* pipeline() const { return pipeline_; }
    GstElement* source() const { return source_; }    // the appsrc
    GstElement* encoder() const { return encoder_; }  // the H.264 encoder
    GstElement* sink() const { return sink_; }        // the srtsink

    // Use build(); this takes over the reference to `pipeline`.
    explicit StreamPipeline(GstElement* pipeline);

  private:
    GstElement* pipeline_;          // owned
    GstElement* source_ = nullptr;  // borrowed from the pipeline, as are the others
    GstElement* encoder_ = nullptr;
    GstElement* sink_ = nullptr;
};
