// Helpers for the multiplexer tests: a small transport-stream reader that checks packet
// structure and continuity counters, synthetic MP3 frames and temporary files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace muxtest {

using Bytes = std::vector<uint8_t>;

struct Pes {
    uint16_t pid = 0;
    uint8_t stream_id = 0;
    uint32_t declared_length = 0;  // PES_packet_length
    int64_t pts = -1;
    Bytes payload;            // after the PES header
    size_t packet_index = 0;  // transport packet that started it
};

struct TsContents {
    std::vector<Pes> pes;             // in stream order, both PIDs
    std::vector<size_t> pat_packets;  // packet indices of PAT starts
    std::vector<size_t> pmt_packets;
    size_t packets = 0;
    std::vector<std::string> problems;  // sync, CC or layout faults
};

// Parses a whole transport stream as the multiplexer writes it.
TsContents ParseTs(const Bytes& ts);

// An MPEG-1 layer III frame (44100 Hz) of the given kbit/s with a zero body.
Bytes Mp3Frame(int kbps_index = 9, bool padding = false);
// An MPEG-2 layer III frame, 22050 Hz, 64 kbit/s (208 bytes).
Bytes Mpeg2Frame();

Bytes ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const Bytes& b);
Bytes Le32List(const std::vector<int32_t>& values);

// A fresh directory under the system temporary directory, removed on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
    const std::filesystem::path& Path() const { return dir_; }

  private:
    std::filesystem::path dir_;
};

// A stream written to and then read back whole (a temporary file, which every C run-time
// has), closed by the destructor.
class MemStream {
  public:
    MemStream();
    ~MemStream();
    MemStream(const MemStream&) = delete;
    MemStream& operator=(const MemStream&) = delete;
    std::FILE* File() const { return f_; }
    std::string Str();

  private:
    std::FILE* f_;
};

// A temporary stream holding the bytes, positioned at the start; the caller closes it.
std::FILE* StreamOf(const Bytes& bytes);

}  // namespace muxtest
