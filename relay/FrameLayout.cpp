#include "relay/FrameLayout.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>
#include <spa/param/video/raw.h>

#include <algorithm>
#include <cstdint>

#include "relay/BlockCentreSampler.h"
#include "relay/FrameCopy.h"

namespace {

// Scaled rows converted at a time: even, so that each band holds whole chroma rows.
constexpr uint32_t bandRows = 16;

size_t roundUp(size_t value, size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

std::optional<FrameLayout> FrameLayout::make(uint32_t format, FrameSize size, bool fullRange) {
    if (size.width == 0 || size.height == 0) return std::nullopt;
    FrameLayout layout{format, size, fullRange, {}, 0};
    const size_t lumaStride = roundUp(size.width, 4);
    const size_t lumaBytes = lumaStride * size.height;
    const size_t chromaRows = (size_t{size.height} + 1) / 2;
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRA:
        case SPA_VIDEO_FORMAT_BGRx:
            layout.planes[0] = {0, size.stride()};
            layout.bytes = size.bytes();
            break;
        case SPA_VIDEO_FORMAT_I420:
            layout.planes = {Plane{0, lumaStride}, Plane{lumaBytes, lumaStride / 2},
                             Plane{lumaBytes + lumaStride / 2 * chromaRows, lumaStride / 2}};
            layout.bytes = lumaBytes + lumaStride * chromaRows;
            break;
        case SPA_VIDEO_FORMAT_NV12:
            layout.planes = {Plane{0, lumaStride}, Plane{lumaBytes, lumaStride}, Plane{}};
            layout.bytes = lumaBytes + lumaStride * chromaRows;
            break;
        case SPA_VIDEO_FORMAT_YUY2:
            layout.planes[0] = {0, roundUp(size_t{size.width} * 2, 4)};
            layout.bytes = layout.planes[0].stride * size.height;
            break;
        default:
            return std::nullopt;
    }
    // libyuv converts to full-range (JPEG) levels for planar 4:2:0 alone.
    if (fullRange && format != SPA_VIDEO_FORMAT_I420) return std::nullopt;
    return layout;
}

void FrameLayout::write(const uint8_t* source, size_t sourceStride, uint8_t* destination) const {
    if (format == SPA_VIDEO_FORMAT_BGRA || format == SPA_VIDEO_FORMAT_BGRx) {
        copyFrameRows(source, sourceStride, size, destination, stride());
        return;
    }
    convertRows(source, sourceStride, 0, size.height, destination);
}

void FrameLayout::convertRows(const uint8_t* source, size_t sourceStride, uint32_t firstRow,
                              uint32_t rows, uint8_t* destination) const {
    // libyuv's ARGB is B, G, R, A in memory: our BGRA.
    const int from = static_cast<int>(sourceStride);
    const int width = static_cast<int>(size.width);
    const int height = static_cast<int>(rows);
    const auto step = [&](size_t index) { return static_cast<int>(planes[index].stride); };
    // Chroma planes hold a row for every two of the picture's.
    const auto plane = [&](size_t index) {
        return destination + planes[index].offset +
               planes[index].stride *
                   (index == 0 || format == SPA_VIDEO_FORMAT_YUY2 ? firstRow : firstRow / 2);
    };
    switch (format) {
        case SPA_VIDEO_FORMAT_I420:
            (fullRange ? libyuv::ARGBToJ420 : libyuv::ARGBToI420)(source, from, plane(0), step(0),
                                                                  plane(1), step(1), plane(2),
                                                                  step(2), width, height);
            break;
        case SPA_VIDEO_FORMAT_NV12:
            libyuv::ARGBToNV12(source, from, plane(0), step(0), plane(1), step(1), width, height);
            break;
        case SPA_VIDEO_FORMAT_YUY2:
            libyuv::ARGBToYUY2(source, from, plane(0), step(0), width, height);
            break;
        default:
            break;
    }
}

void FrameLayout::write(const uint8_t* source, size_t sourceStride, FrameSize from,
                        uint8_t* destination, std::vector<uint8_t>& scratch) const {
    if (from == size) {
        write(source, sourceStride, destination);
        return;
    }
    const auto sampler = BlockCentreSampler::make(from, size);
    // Writes scaled rows `firstRow` on to `rows`.
    const auto scale = [&](uint8_t* rows, size_t rowsStride, uint32_t firstRow, uint32_t count) {
        if (sampler) {
            sampler->sampleRows(source, sourceStride, firstRow, count, rows, rowsStride);
            return;
        }
        // libyuv writes each row where it lies in the whole picture: one placed so that row
        // `firstRow` lands at `rows`.
        const auto origin = reinterpret_cast<uintptr_t>(rows) - rowsStride * firstRow;
        libyuv::ARGBScaleClip(source, static_cast<int>(sourceStride), static_cast<int>(from.width),
                              static_cast<int>(from.height), reinterpret_cast<uint8_t*>(origin),
                              static_cast<int>(rowsStride), static_cast<int>(size.width),
                              static_cast<int>(size.height), 0, static_cast<int>(firstRow),
                              static_cast<int>(size.width), static_cast<int>(count),
                              libyuv::kFilterBox);
    };
    if (format == SPA_VIDEO_FORMAT_BGRA || format == SPA_VIDEO_FORMAT_BGRx) {
        scale(destination, stride(), 0, size.height);
        return;
    }
    // A band of scaled rows at a time, converted while it is still in the cache.
    scratch.resize(size.stride() * bandRows);
    for (uint32_t first = 0; first < size.height; first += bandRows) {
        const uint32_t count = std::min(bandRows, size.height - first);
        scale(scratch.data(), size.stride(), first, count);
        convertRows(scratch.data(), size.stride(), first, count, destination);
    }
}
