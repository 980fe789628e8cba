#pragma once

#include "relay/FrameSize.h"

struct spa_pod;
struct spa_pod_builder;

// The parameters a relay stream announces. Each builds one object in `builder` and returns it.
namespace videoFormatParams {

// BGRA frames of exactly `size`, variable frame rate (0/1) up to a maximum frame rate.
spa_pod* enumFormat(spa_pod_builder& builder, FrameSize size);
// Shared-memory (MemFd) buffers for frames of `size`, one tightly packed plane each.
spa_pod* buffers(spa_pod_builder& builder, FrameSize size);
// A header on every buffer, carrying its sequence number and time stamp.
spa_pod* headerMeta(spa_pod_builder& builder);

}  // namespace videoFormatParams
