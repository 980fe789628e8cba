#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The 32-byte header at the start of the frame slot. All fields are native (little-endian)
// unsigned 32-bit integers; bytes 12 to 23 belong to the writer and are never read.
struct SharedFrameHeader {
    static constexpr size_t headerSize = 32;
    static constexpr int64_t maxDataSize = 33'177'600;  // 3840 × 2160 × 4
    static constexpr size_t mappingLength = size_t{maxDataSize} + headerSize;

    static constexpr size_t widthOffset = 0;
    static constexpr size_t heightOffset = 4;
    static constexpr size_t frameNumberOffset = 8;
    static constexpr size_t bytesPerRowOffset = 24;
    static constexpr size_t dataSizeOffset = 28;

    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t frameNumber = 0;
    uint32_t bytesPerRow = 0;
    uint32_t dataSize = 0;

    bool operator==(const SharedFrameHeader&) const = default;

    // Loads the five fields from a slot of at least `headerSize` bytes.
    static SharedFrameHeader load(const uint8_t* slot) {
        SharedFrameHeader header;
        std::memcpy(&header.width, slot + widthOffset, 4);
        std::memcpy(&header.height, slot + heightOffset, 4);
        std::memcpy(&header.frameNumber, slot + frameNumberOffset, 4);
        std::memcpy(&header.bytesPerRow, slot + bytesPerRowOffset, 4);
        std::memcpy(&header.dataSize, slot + dataSizeOffset, 4);
        return header;
    }

    // Stores the five fields, leaving bytes 12 to 23 as they are.
    void store(uint8_t* slot) const {
        std::memcpy(slot + widthOffset, &width, 4);
        std::memcpy(slot + heightOffset, &height, 4);
        std::memcpy(slot + frameNumberOffset, &frameNumber, 4);
        std::memcpy(slot + bytesPerRowOffset, &bytesPerRow, 4);
        std::memcpy(slot + dataSizeOffset, &dataSize, 4);
    }

    // Bytes of pixel data the rows actually occupy: (height − 1) × bytesPerRow + 4 × width.
    uint64_t bytesSpannedByRows() const {
        if (height == 0) return 0;
        return uint64_t{height - 1} * bytesPerRow + uint64_t{width} * 4;
    }

    // Whether the rows fit inside `dataSize` and each row holds `width` pixels.
    bool rowsFitData() const {
        return uint64_t{bytesPerRow} >= uint64_t{width} * 4 && bytesSpannedByRows() <= dataSize;
    }
};

static_assert(SharedFrameHeader::mappingLength == 33'177'632);
