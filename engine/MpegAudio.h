#pragma once

// Tells MPEG audio from other bytes with an .mp3 name. A file is MPEG audio
// when, within the first 64 KiB after its ID3v2 tag (or its start, without
// one), a few valid MPEG frame headers follow one another, each where the
// frame before it ends, all of one version, layer and sample rate. A single
// header proves nothing: two sync bytes turn up in any large file.
namespace MpegAudio {

// The number of consecutive frames asked for.
constexpr int kFramesNeeded = 4;

// Reads the open file `fd` from its start; the file offset is not used.
bool holdsFrames(int fd);

} // namespace MpegAudio
