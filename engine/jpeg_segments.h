// The walk over a JPEG's header segments that the EXIF reader, the size check
// and the JFIF density stamp share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keepframe {

// Walks the segments of a JPEG's header, from behind its start-of-image marker
// up to its image data or end of image: `visit(marker, offset, length)` for
// each segment that carries a length (the offset of its 0xFF, the length as
// stored, counting itself and the payload; it may run past `size`), until
// `visit` returns true. Fill bytes and markers without a length are passed
// over; the walk ends at a byte that is no marker and at a length under 2.
// Returns whether `visit` ended it.
template <typename Visit>
bool walkJpegSegments(const uint8_t* data, size_t size, Visit&& visit) {
    size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF) return false;
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return false;  // end of image, image data
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
            pos += 2;
            continue;
        }
        const size_t length = size_t(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2) return false;
        if (visit(marker, pos, length)) return true;
        pos += 2 + length;
    }
    return false;
}

}  // namespace keepframe
