#include "mux/ts_writer.h"

#include <algorithm>
#include <cstring>

#include "mux/crc32.h"

namespace mux {

void EncodePts(int64_t pts, uint8_t out[5]) {
    uint64_t p = static_cast<uint64_t>(pts) & 0x1FFFFFFFFull;
    out[0] = static_cast<uint8_t>(0x20 | ((p >> 29) & 0x0E) | 1);
    uint32_t mid = static_cast<uint32_t>((((p >> 15) & 0x7FFF) << 1) | 1);
    uint32_t low = static_cast<uint32_t>(((p & 0x7FFF) << 1) | 1);
    out[1] = static_cast<uint8_t>(mid >> 8);
    out[2] = static_cast<uint8_t>(mid);
    out[3] = static_cast<uint8_t>(low >> 8);
    out[4] = static_cast<uint8_t>(low);
}

TsWriter::TsWriter(std::FILE* out, size_t buffer_bytes)
    : out_(out), capacity_(std::max(buffer_bytes / kTsPacketSize, size_t{1}) * kTsPacketSize) {
    buffer_ = std::make_unique<uint8_t[]>(capacity_);
}

bool TsWriter::Flush() {
    if (fill_ == 0) return true;
    bool ok = std::fwrite(buffer_.get(), 1, fill_, out_) == fill_;
    fill_ = 0;
    return ok;
}

bool TsWriter::Commit() {
    fill_ += kTsPacketSize;
    return fill_ < capacity_ || Flush();
}

TsWriter::SectionResult TsWriter::write_section(uint8_t table_id, uint16_t table_id_extension,
                                                uint8_t version, uint8_t section_number,
                                                uint8_t last_section_number, const uint8_t* payload,
                                                size_t length) {
    if (12 + length > kMaxSection) return SectionResult::kTooLong;
    uint8_t section[kMaxSection];
    size_t section_length = length + 9;
    section[0] = table_id;
    section[1] = static_cast<uint8_t>(0xB0 | (section_length >> 8));
    section[2] = static_cast<uint8_t>(section_length);
    section[3] = static_cast<uint8_t>(table_id_extension >> 8);
    section[4] = static_cast<uint8_t>(table_id_extension);
    section[5] = static_cast<uint8_t>(0xC1 | ((version & 0x1F) << 1));
    section[6] = section_number;
    section[7] = last_section_number;
    if (length > 0) std::memcpy(section + 8, payload, length);
    size_t total = 12 + length;
    uint32_t crc = Crc32Mpeg(section, total - 4);
    section[total - 4] = static_cast<uint8_t>(crc >> 24);
    section[total - 3] = static_cast<uint8_t>(crc >> 16);
    section[total - 2] = static_cast<uint8_t>(crc >> 8);
    section[total - 1] = static_cast<uint8_t>(crc);

    const uint16_t pid = table_id == 0 ? kPatPid : kPmtPid;
    size_t done = 0;
    bool first = true;
    while (done < total) {
        uint8_t* pkt = Slot();
        pkt[0] = 0x47;
        pkt[1] = static_cast<uint8_t>((first ? 0x40 : 0x00) | (pid >> 8));
        pkt[2] = static_cast<uint8_t>(pid);
        pkt[3] = static_cast<uint8_t>(0x10 | NextContinuity(pid));
        size_t h = 4;
        if (first) pkt[h++] = 0x00;  // pointer_field
        size_t take = std::min(kTsPacketSize - h, total - done);
        std::memcpy(pkt + h, section + done, take);
        std::memset(pkt + h + take, 0xFF, kTsPacketSize - h - take);
        done += take;
        first = false;
        if (!Commit()) return SectionResult::kWriteFailed;
    }
    return SectionResult::kWritten;
}

bool TsWriter::write_pat() {
    const uint8_t payload[] = {kProgramNumber >> 8, kProgramNumber & 0xFF,
                               static_cast<uint8_t>(0xE0 | (kPmtPid >> 8)), kPmtPid & 0xFF};
    return write_section(0x00, kTransportStreamId, 0, 0, 0, payload, sizeof payload) ==
           SectionResult::kWritten;
}

bool TsWriter::write_pmt() {
    const uint8_t payload[] = {0xFF,
                               0xFF,  // reserved, PCR_PID 0x1FFF: no PCR
                               0xF0,
                               0x00,  // program_info_length 0
                               kVideoStreamType,
                               static_cast<uint8_t>(0xE0 | (kVideoPid >> 8)),
                               kVideoPid & 0xFF,
                               0xF0,
                               0x00,
                               kAudioStreamType,
                               static_cast<uint8_t>(0xE0 | (kAudioPid >> 8)),
                               kAudioPid & 0xFF,
                               0xF0,
                               0x00};
    return write_section(0x02, kProgramNumber, 0, 0, 0, payload, sizeof payload) ==
           SectionResult::kWritten;
}

bool TsWriter::retransmit_psi() {
    if (++psi_counter_ != psi_period_) return true;
    psi_counter_ = 0;
    return write_pat() && write_pmt();
}

bool TsWriter::PutPesPacket(StreamKind kind, bool first, size_t pes_length, int64_t pts,
                            const uint8_t* data, size_t d) {
    const uint16_t pid = kind == StreamKind::kVideo ? kVideoPid : kAudioPid;
    const uint8_t stream_id = kind == StreamKind::kVideo ? kVideoStreamId : kAudioStreamId;
    if (!retransmit_psi()) return false;
    uint8_t* pkt = Slot();
    pkt[0] = 0x47;
    pkt[1] = static_cast<uint8_t>((first ? 0x40 : 0x00) | (pid >> 8));
    pkt[2] = static_cast<uint8_t>(pid);
    pkt[3] = static_cast<uint8_t>(0x10 | NextContinuity(pid));
    uint8_t pes_header[14];
    size_t pes_header_size = 0;
    if (first) {
        if (pes_length > 0xFFFF) pes_length = 0;
        pes_header[0] = 0x00;
        pes_header[1] = 0x00;
        pes_header[2] = 0x01;
        pes_header[3] = stream_id;
        pes_header[4] = static_cast<uint8_t>(pes_length >> 8);
        pes_header[5] = static_cast<uint8_t>(pes_length);
        pes_header[6] = 0x80;
        pes_header[7] = 0x80;  // PTS only
        pes_header[8] = 5;
        EncodePts(pts, pes_header + 9);
        pes_header_size = sizeof pes_header;
    }
    size_t h = 4 + pes_header_size;
    // Callers cut the payload to what one packet holds; more would run past the packet.
    if (d > kTsPacketSize - h) return false;
    size_t s = kTsPacketSize - h - d;
    size_t at = 4;
    if (s > 0) {
        pkt[3] |= 0x20;
        pkt[4] = static_cast<uint8_t>(s - 1);
        if (s >= 2) {
            pkt[5] = 0x00;
            std::memset(pkt + 6, 0xFF, s - 2);
        }
        at += s;
    }
    if (pes_header_size > 0) std::memcpy(pkt + at, pes_header, pes_header_size);
    at += pes_header_size;
    std::memcpy(pkt + at, data, d);
    return Commit();
}

bool TsWriter::write_pes(const uint8_t* payload, size_t length, StreamKind kind, int64_t pts) {
    size_t done = 0;
    bool first = true;
    while (done < length) {
        size_t d = std::min(kTsPacketSize - 4 - (first ? 14 : 0), length - done);
        if (!PutPesPacket(kind, first, length + 8, pts, payload + done, d)) return false;
        done += d;
        first = false;
    }
    return true;
}

void TsWriter::BeginPes(StreamKind kind, int64_t pts) {
    part_kind_ = kind;
    part_pts_ = pts;
    part_first_ = true;
    part_fill_ = 0;
}

bool TsWriter::AddPesPayload(const uint8_t* payload, size_t length) {
    // A full packet is the same whether more follows or not, so it goes out at once.
    auto put = [&](const uint8_t* data, size_t d) {
        const bool first = part_first_;
        part_first_ = false;
        return PutPesPacket(part_kind_, first, 0, part_pts_, data, d);
    };
    if (part_fill_ > 0) {
        const size_t take = std::min(PartRoom() - part_fill_, length);
        std::memcpy(part_ + part_fill_, payload, take);
        part_fill_ += take;
        payload += take;
        length -= take;
        if (part_fill_ < PartRoom()) return true;
        part_fill_ = 0;
        if (!put(part_, PartRoom())) return false;
    }
    while (length >= PartRoom()) {
        const size_t d = PartRoom();
        if (!put(payload, d)) return false;
        payload += d;
        length -= d;
    }
    std::memcpy(part_, payload, length);
    part_fill_ = length;
    return true;
}

bool TsWriter::EndPes() {
    if (part_fill_ == 0) return true;
    const bool first = part_first_;
    part_first_ = false;
    const size_t d = part_fill_;
    part_fill_ = 0;
    return PutPesPacket(part_kind_, first, 0, part_pts_, part_, d);
}

}  // namespace mux
