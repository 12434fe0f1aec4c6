// The frame size of a Flash or MP4 video, read defensively: every read is bounded by the data, a box
// of size zero or smaller than its header ends the walk, and the walk has a depth and count limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace mxcatalog {

// Reads n bytes at offset into buf; false when they are not all there.
using READAT = std::function<bool(uint64_t offset, void* buf, size_t n)>;

// Width and height from the onMetaData script tag of an FLV image (the start of the file is enough).
bool FlvFrameSize(const uint8_t* pData, size_t nSize, int& nWidth, int& nHeight);
// Width and height of the first track header (tkhd) with a non-zero size, 16.16 fixed point.
bool Mp4FrameSize(const READAT& read, uint64_t nFileSize, int& nWidth, int& nHeight);
bool Mp4FrameSize(const uint8_t* pData, size_t nSize, int& nWidth, int& nHeight);
// Either, by the file's first bytes; false for anything else or an unreadable file. The file is read
// from its start and left open.
bool VideoFrameSize(FILE* f, int& nWidth, int& nHeight);

}  // namespace mxcatalog
