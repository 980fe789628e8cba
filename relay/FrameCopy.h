#pragma once

#include <cstddef>
#include <cstdint>

#include "relay/FrameSize.h"

// Copies a `size` BGRA image whose rows are `sourceStride` bytes apart into `destination`, whose
// rows are `destinationStride` bytes apart, first row first.
void copyFrameRows(const uint8_t* source, size_t sourceStride, FrameSize size, uint8_t* destination,
                   size_t destinationStride);
