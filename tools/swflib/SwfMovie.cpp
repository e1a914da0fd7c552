#include "SwfMovie.h"

#include <zlib.h>

#include <algorithm>

#include "FileAccess.h"

namespace fennick::swf {

namespace {

constexpr size_t kFileHeaderSize = 8;  // signature, version, file length
constexpr size_t kInflateChunk = 64 * 1024;
// The header's length field is 32 bits wide.
constexpr size_t kMaxFileLength = 0xFFFFFFFFu;
// Skins and settings are small; a compressed body that claims more is refused before it is
// expanded, so a small file cannot make the tools allocate gigabytes.
constexpr size_t kMaxExpandedLength = 256u << 20;

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes packed(size);
  if (compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()),
                Z_BEST_COMPRESSION) != Z_OK)
    throw SwfError("zlib compression failed");
  packed.resize(size);
  return packed;
}

// The header's length is only a claim: the buffer grows with what the stream really yields
// (up to one byte past the claim, which shows a body longer than declared), so a damaged
// length costs no more memory than the data.
Bytes Inflate(const uint8_t* data, size_t size, size_t expected) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) throw SwfError("zlib initialisation failed");
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  const size_t limit = expected + 1;
  Bytes plain;
  int result = Z_OK;
  while (result == Z_OK) {
    const size_t done = stream.total_out;
    if (done == plain.size()) {
      if (done == limit) break;
      plain.resize(std::min(limit, std::max(2 * done, kInflateChunk)));
    }
    stream.next_out = plain.data() + done;
    stream.avail_out = static_cast<uInt>(plain.size() - done);
    result = inflate(&stream, Z_NO_FLUSH);
  }
  const size_t produced = stream.total_out;
  inflateEnd(&stream);
  if (result != Z_STREAM_END || produced != expected)
    throw SwfError("compressed SWF body is damaged or does not match its declared length");
  plain.resize(expected);
  return plain;
}

}  // namespace

uint16_t CountFrames(const std::vector<Tag>& tags) {
  size_t frames = 0;
  for (const Tag& tag : tags)
    if (tag.code == kTagShowFrame) ++frames;
  if (frames > 0xFFFF) throw SwfError("too many frames");
  return static_cast<uint16_t>(frames);
}

Bytes WriteMovie(const Movie& movie) {
  Writer body;
  WriteRect(body, movie.frameSize);
  body.WriteFixed8(movie.frameRate);
  body.WriteU16(movie.frameCount);
  WriteTags(body, movie.tags);
  const Bytes plain = body.Take();

  const uint64_t fileLength = kFileHeaderSize + plain.size();
  if (fileLength > 0xFFFFFFFFu) throw SwfError("SWF larger than 4 GiB");
  Writer file;
  file.WriteBytes(reinterpret_cast<const uint8_t*>(movie.compressed ? "CWS" : "FWS"), 3);
  file.WriteU8(movie.version);
  file.WriteU32(static_cast<uint32_t>(fileLength));
  file.WriteBytes(movie.compressed ? Deflate(plain) : plain);
  return file.Take();
}

Movie ReadMovie(const Bytes& data) {
  if (data.size() < kFileHeaderSize) throw SwfError("not a SWF file: too short");
  const std::string signature(data.begin(), data.begin() + 3);
  if (signature != "FWS" && signature != "CWS") throw SwfError("not a SWF file: unknown signature");
  Movie movie;
  movie.compressed = signature == "CWS";
  movie.version = data[3];
  Reader header(data.data() + 4, 4);
  const uint32_t fileLength = header.ReadU32();
  if (fileLength < kFileHeaderSize) throw SwfError("SWF header declares an impossible length");
  const size_t bodyLength = fileLength - kFileHeaderSize;

  Bytes plain;
  if (movie.compressed) {
    if (bodyLength > kMaxExpandedLength)
      throw SwfError("compressed SWF claims " + std::to_string(bodyLength >> 20) +
                     " MiB, more than the " + std::to_string(kMaxExpandedLength >> 20) +
                     " MiB allowed");
    plain = Inflate(data.data() + kFileHeaderSize, data.size() - kFileHeaderSize, bodyLength);
  } else {
    if (data.size() < fileLength) throw SwfError("SWF file is truncated");
    plain.assign(data.begin() + kFileHeaderSize, data.begin() + fileLength);
  }
  Reader in(plain);
  movie.frameSize = ReadRect(in);
  movie.frameRate = in.ReadFixed8();
  movie.frameCount = in.ReadU16();
  movie.tags = ReadTags(in);
  if (movie.tags.empty() || movie.tags.back().code != kTagEnd) throw SwfError("SWF has no End tag");
  movie.tags.pop_back();
  return movie;
}

Movie LoadMovie(const std::filesystem::path& file) {
  const Bytes data = ReadWholeFile(file, kMaxFileLength);
  try {
    return ReadMovie(data);
  } catch (const SwfError& e) {
    throw SwfError("\"" + file.string() + "\": " + e.what());
  }
}

void SaveMovie(const std::filesystem::path& file, const Movie& movie) {
  WriteWholeFile(file, WriteMovie(movie));
}

}  // namespace fennick::swf
