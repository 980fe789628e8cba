#pragma once

#include <cstdint>
#include <vector>

#include "relay/FrameLayout.h"
#include "relay/FrameSize.h"

struct spa_pod;
struct spa_pod_builder;

// The parameters a relay stream announces. Each builds its objects in `builder`.
namespace videoFormatParams {

// The rate offered while the host's own is not known.
constexpr uint32_t defaultRate = 60;

// Frames of exactly `size`, one object per relayed format (BGRA first, then BGRx, I420, NV12
// and YUY2); then the same at each common smaller size of about its aspect (the widths of
// 2560 down to 320 that are below its own); then any smaller size (a range up to `size`), for
// consumers that scale. YUV ones in BT.601 at limited range unless the consumer asks for full
// range where that can be had. Each offers whole-number frame rates with `rate` first; whichever
// a consumer takes, frames still come as the host delivers them.
std::vector<const spa_pod*> enumFormats(spa_pod_builder& builder, FrameSize size, uint32_t rate);
// Shared-memory (MemFd) buffers for frames laid out as `layout`: one block of exactly its bytes.
spa_pod* buffers(spa_pod_builder& builder, const FrameLayout& layout);
// A header on every buffer, carrying its sequence number and time stamp.
spa_pod* headerMeta(spa_pod_builder& builder);

}  // namespace videoFormatParams
