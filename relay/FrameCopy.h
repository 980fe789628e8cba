#pragma once

#include <cstddef>
#include <cstdint>

#include "relay/PixelRegion.h"

// Copies `region` of a BGRA image whose rows are `sourceStride` bytes apart into `destination`,
// whose rows are `destinationStride` bytes apart. `flipped` true keeps the source's first row
// as the first row; false reverses the order of the rows.
void copyFrameRows(const uint8_t* source, size_t sourceStride, const PixelRegion& region,
                   bool flipped, uint8_t* destination, size_t destinationStride);
