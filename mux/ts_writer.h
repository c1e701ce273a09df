// Writes one program (AVS video + MPEG audio) as 188-byte MPEG-2 transport packets:
// PAT/PMT sections with CRC_32 repeated every psi_period PES packets, PES packets with
// a PTS, stuffing in an adaptation field, per-PID continuity counters. No PCR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace mux {

constexpr size_t kTsPacketSize = 188;
constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kPmtPid = 0x0111;
constexpr uint16_t kTransportStreamId = 0x0111;
constexpr uint16_t kProgramNumber = 0x0111;
constexpr uint16_t kVideoPid = 0x0101;
constexpr uint16_t kAudioPid = 0x0102;
constexpr uint8_t kVideoStreamType = 0x42;
constexpr uint8_t kAudioStreamType = 0x03;
constexpr uint8_t kVideoStreamId = 0xE0;
constexpr uint8_t kAudioStreamId = 0xC0;
constexpr size_t kMaxSection = 1024;

enum class StreamKind { kVideo = 0, kAudio = 1 };

// The five PTS bytes of the low 33 bits of pts.
void EncodePts(int64_t pts, uint8_t out[5]);

class TsWriter {
  public:
    // `out` is not owned. With buffer_bytes > 0 packets are collected (built in place) and
    // handed to `out` in writes of that size, rounded down to whole packets; a failed
    // write is then reported by the packet that filled the buffer, or by flush(). With 0
    // every packet goes to `out` at once.
    explicit TsWriter(std::FILE* out, size_t buffer_bytes = 0);
    ~TsWriter() { Flush(); }
    TsWriter(const TsWriter&) = delete;
    TsWriter& operator=(const TsWriter&) = delete;

    // Hands collected packets to the stream; false when they could not all be written.
    bool Flush();

    void SetPsiPeriod(int32_t period) { psi_period_ = period; }
    int32_t PsiPeriod() const { return psi_period_; }

    // True when the table's packets were written (or collected); false when a write failed.
    [[nodiscard]] bool write_pat();
    [[nodiscard]] bool write_pmt();
    // True when every packet was written; false at the first packet that was not, also
    // when that was a PAT or PMT packet repeated in front of it.
    [[nodiscard]] bool write_pes(const uint8_t* payload, size_t length, StreamKind kind,
                                 int64_t pts);

    // One PES packet whose payload comes in parts, for payloads too large to hold: the
    // packets are those write_pes makes of the joined parts when they total more than 65535
    // bytes (PES_packet_length 0). Each returns false at the first packet not written.
    void BeginPes(StreamKind kind, int64_t pts);
    [[nodiscard]] bool AddPesPayload(const uint8_t* payload, size_t length);
    [[nodiscard]] bool EndPes();

  private:
    friend struct TsWriterAccess;  // tests reach the section writer directly

    enum class SectionResult {
        kWritten,
        kTooLong,      // over 1024 bytes; nothing was written
        kWriteFailed,  // a packet could not be written
    };
    SectionResult write_section(uint8_t table_id, uint16_t table_id_extension, uint8_t version,
                                uint8_t section_number, uint8_t last_section_number,
                                const uint8_t* payload, size_t length);
    // Counts one PES packet and writes PAT and PMT when the period is reached; false when
    // that write failed.
    bool retransmit_psi();
    uint8_t NextContinuity(uint16_t pid) { return cc_[pid] = (cc_[pid] + 1) & 0x0F; }
    // Where the next packet is built, and its hand-over once complete.
    uint8_t* Slot() { return buffer_.get() + fill_; }
    bool Commit();
    // One PES transport packet of d payload bytes, with the PES header when first.
    bool PutPesPacket(StreamKind kind, bool first, size_t pes_length, int64_t pts,
                      const uint8_t* data, size_t d);
    size_t PartRoom() const { return kTsPacketSize - 4 - (part_first_ ? 14 : 0); }

    std::FILE* out_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    size_t fill_ = 0;
    uint8_t cc_[0x2000] = {};
    int32_t psi_counter_ = 0;
    int32_t psi_period_ = 0x7FFFFFFF;
    // The PES packet being written in parts: fewer bytes than one packet takes wait here.
    StreamKind part_kind_ = StreamKind::kVideo;
    int64_t part_pts_ = 0;
    bool part_first_ = true;
    uint8_t part_[kTsPacketSize] = {};
    size_t part_fill_ = 0;
};

}  // namespace mux
