#include "mux_test_support.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

namespace muxtest {

TsContents ParseTs(const Bytes& ts) {
    TsContents out;
    std::map<uint16_t, int> last_cc;
    std::map<uint16_t, size_t> open;  // pid -> index + 1 of its PES being collected
    if (ts.size() % 188 != 0) out.problems.push_back("size not a multiple of 188");
    out.packets = ts.size() / 188;
    for (size_t i = 0; i < out.packets; ++i) {
        const uint8_t* p = ts.data() + i * 188;
        if (p[0] != 0x47) out.problems.push_back("sync byte at packet " + std::to_string(i));
        bool start = p[1] & 0x40;
        uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        int afc = (p[3] >> 4) & 3;
        int cc = p[3] & 15;
        int expected = last_cc.count(pid) ? (last_cc[pid] + 1) & 15 : 1;
        if (cc != expected)
            out.problems.push_back("cc on pid " + std::to_string(pid) + " packet " +
                                   std::to_string(i));
        last_cc[pid] = cc;
        size_t at = 4;
        if (afc == 3) at += 1 + p[4];
        if (afc == 2 || afc == 0 || at > 188) {
            out.problems.push_back("adaptation field at packet " + std::to_string(i));
            continue;
        }
        if (pid == 0 || pid == 0x111) {
            if (start) (pid == 0 ? out.pat_packets : out.pmt_packets).push_back(i);
            continue;
        }
        if (start) {
            const uint8_t* h = p + at;
            Pes pes;
            pes.pid = pid;
            pes.packet_index = i;
            if (h[0] != 0 || h[1] != 0 || h[2] != 1) out.problems.push_back("PES start code");
            pes.stream_id = h[3];
            pes.declared_length = (h[4] << 8) | h[5];
            if ((h[7] & 0xC0) == 0x80 && h[8] == 5) {
                const uint8_t* t = h + 9;
                pes.pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) |
                          (int64_t(t[2] >> 1) << 15) | (int64_t(t[3]) << 7) | (t[4] >> 1);
            }
            at += 9 + h[8];
            pes.payload.assign(p + at, p + 188);
            out.pes.push_back(std::move(pes));
            open[pid] = out.pes.size();
        } else {
            if (!open[pid]) {
                out.problems.push_back("continuation without start");
                continue;
            }
            Pes& pes = out.pes[open[pid] - 1];
            pes.payload.insert(pes.payload.end(), p + at, p + 188);
        }
    }
    for (const Pes& pes : out.pes) {
        if (pes.declared_length != 0 && pes.declared_length != pes.payload.size() + 8)
            out.problems.push_back("PES_packet_length");
    }
    return out;
}

Bytes Mp3Frame(int kbps_index, bool padding) {
    static const int kRates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    size_t len = 144000 * kRates[kbps_index] / 44100 + (padding ? 1 : 0);
    Bytes f(len, 0);
    f[0] = 0xFF;
    f[1] = 0xFB;
    f[2] = static_cast<uint8_t>((kbps_index << 4) | (padding ? 2 : 0));
    f[3] = 0x44;
    return f;
}

Bytes Mpeg2Frame() {
    Bytes f(208, 0);
    f[0] = 0xFF;
    f[1] = 0xF3;
    f[2] = 0x80;  // 64 kbit/s, 22050 Hz
    f[3] = 0x44;
    return f;
}

Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes Le32List(const std::vector<int32_t>& values) {
    Bytes b;
    for (int32_t v : values) {
        uint32_t u = static_cast<uint32_t>(v);
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(u >> (8 * k)));
    }
    return b;
}

TempDir::TempDir() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("korvel_test_" + std::to_string(getpid()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

MemStream::MemStream() : f_(std::tmpfile()) {}

MemStream::~MemStream() {
    if (f_) std::fclose(f_);
}

std::string MemStream::Str() {
    std::fflush(f_);
    const long end = std::ftell(f_);
    std::string text(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    std::rewind(f_);
    const size_t got = std::fread(text.data(), 1, text.size(), f_);
    text.resize(got);
    std::fseek(f_, 0, SEEK_END);
    return text;
}

std::FILE* StreamOf(const Bytes& bytes) {
    std::FILE* f = std::tmpfile();
    if (f && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (f) std::rewind(f);
    return f;
}

}  // namespace muxtest
