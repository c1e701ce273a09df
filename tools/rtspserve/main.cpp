// rtspserve: serves an AVS elementary stream (and optionally an MP3 file) over
// RTSP with RTP interleaved in the TCP connection.
#include <getopt.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/rtspserve/request_log.h"
#include "tools/rtspserve/server.h"

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "usage: rtspserve [options] VIDEO.avs [AUDIO.mp3]\n"
        "Serves an AVS1-P2 elementary stream (and an MP3 file) at rtsp://HOST:PORT/NAME,\n"
        "RTP interleaved in the RTSP connection. Any path is accepted; it prints the\n"
        "address on standard output and logs requests on standard error (lines are dropped,\n"
        "and counted, while standard error is not read). Ctrl-C ends it.\n"
        "\n"
        "  -p, --port N           port to listen on (default 8554; 0: any free port)\n"
        "  -b, --bind ADDRESS     IPv4 address to listen on (default 0.0.0.0)\n"
        "  -f, --fast             send as fast as the client reads (default: real time)\n"
        "      --audio-only       offer only the MP3 (VIDEO.avs is still read)\n"
        "      --max-payload N    RTP payload bytes per packet (default 1400)\n"
        "      --max-connections N  clients served at once (default 32); one more is\n"
        "                         answered 503 Service Unavailable and closed\n"
        "      --idle-timeout S   close a connection that is not playing and has sent\n"
        "                         nothing for S seconds (default 30; 0: never)\n"
        "  -q, --quiet            no request log\n"
        "  -h, --help             this text\n"
        "Faults, for testing clients:\n"
        "      --describe-404        answer DESCRIBE with 404 Not Found\n"
        "      --application-media   add an \"application\" media to the description\n"
        "      --no-session-control  leave out the session-level a=control\n"
        "      --close-after N       close the connection after N RTP packets\n"
        "      --garbage-every N     send an interleaved packet of random bytes every N packets\n"
        "      --wrap-timestamps     start RTP time stamps 2 s before they wrap at 2^32\n"
        "      --stall-at S:D        real time: send nothing from stream time S for D seconds,\n"
        "                            then what fell due in one burst (a network stall)\n"
        "      --jitter MS           real time: send in bursts every MS milliseconds\n",
        out);
}

bool ParseCount(const char* text, uint64_t max, uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || !end || *end || end == text || v > max) return false;
    value = v;
    return true;
}

bool ParseSeconds(const char* text, double& value) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (!end || *end || end == text || !std::isfinite(v) || v < 0 || v > 86400) return false;
    value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    rtspserve::ServerOptions options;
    enum {
        kMaxPayload = 1000,
        kDescribe404,
        kApplication,
        kNoControl,
        kCloseAfter,
        kGarbage,
        kWrap,
        kAudioOnly,
        kMaxConnections,
        kIdleTimeout,
        kStallAt,
        kJitter
    };
    static const option kOptions[] = {
        {"port", required_argument, nullptr, 'p'},
        {"bind", required_argument, nullptr, 'b'},
        {"fast", no_argument, nullptr, 'f'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"max-payload", required_argument, nullptr, kMaxPayload},
        {"describe-404", no_argument, nullptr, kDescribe404},
        {"application-media", no_argument, nullptr, kApplication},
        {"no-session-control", no_argument, nullptr, kNoControl},
        {"close-after", required_argument, nullptr, kCloseAfter},
        {"garbage-every", required_argument, nullptr, kGarbage},
        {"wrap-timestamps", no_argument, nullptr, kWrap},
        {"audio-only", no_argument, nullptr, kAudioOnly},
        {"max-connections", required_argument, nullptr, kMaxConnections},
        {"idle-timeout", required_argument, nullptr, kIdleTimeout},
        {"stall-at", required_argument, nullptr, kStallAt},
        {"jitter", required_argument, nullptr, kJitter},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    uint64_t value = 0;
    while ((c = getopt_long(argc, argv, "p:b:fqh", kOptions, nullptr)) != -1) {
        switch (c) {
            case 'p':
                if (!ParseCount(optarg, 65535, value)) {
                    std::fprintf(stderr, "rtspserve: bad port: %s\n", optarg);
                    return 2;
                }
                options.port = static_cast<uint16_t>(value);
                break;
            case 'b':
                options.bind_address = optarg;
                break;
            case 'f':
                options.paced = false;
                break;
            case 'q':
                options.verbose = false;
                break;
            case 'h':
                Usage(stdout);
                return 0;
            case kMaxPayload:
                if (!ParseCount(optarg, 65000, value) || value < 16) {
                    std::fprintf(stderr, "rtspserve: bad payload size (16 to 65000): %s\n", optarg);
                    return 2;
                }
                options.max_payload = value;
                break;
            case kDescribe404:
                options.faults.describe_404 = true;
                break;
            case kApplication:
                options.faults.application_media = true;
                break;
            case kNoControl:
                options.faults.no_session_control = true;
                break;
            case kCloseAfter:
            case kGarbage:
                if (!ParseCount(optarg, UINT64_MAX, value) || value == 0) {
                    std::fprintf(stderr, "rtspserve: bad packet count: %s\n", optarg);
                    return 2;
                }
                (c == kCloseAfter ? options.faults.close_after_packets
                                  : options.faults.garbage_every) = value;
                break;
            case kWrap:
                options.faults.wrap_timestamps = true;
                break;
            case kAudioOnly:
                options.audio_only = true;
                break;
            case kMaxConnections:
                if (!ParseCount(optarg, 100000, value) || value == 0) {
                    std::fprintf(stderr, "rtspserve: bad connection count (1 to 100000): %s\n",
                                 optarg);
                    return 2;
                }
                options.max_connections = value;
                break;
            case kIdleTimeout: {
                double seconds = 0;
                if (!ParseSeconds(optarg, seconds)) {
                    std::fprintf(stderr, "rtspserve: bad time-out (0 to 86400 seconds): %s\n",
                                 optarg);
                    return 2;
                }
                options.idle_timeout = std::chrono::milliseconds(std::llround(seconds * 1000));
                break;
            }
            case kStallAt: {
                std::string text = optarg;
                size_t colon = text.find(':');
                double at = 0, seconds = 0;
                if (colon == std::string::npos ||
                    !ParseSeconds(text.substr(0, colon).c_str(), at) ||
                    !ParseSeconds(text.substr(colon + 1).c_str(), seconds) || seconds == 0) {
                    std::fprintf(stderr, "rtspserve: bad stall (SECONDS:DURATION): %s\n", optarg);
                    return 2;
                }
                options.faults.stall_at = at;
                options.faults.stall_seconds = seconds;
                break;
            }
            case kJitter:
                if (!ParseCount(optarg, 10000, value) || value == 0) {
                    std::fprintf(stderr, "rtspserve: bad jitter (1 to 10000 ms): %s\n", optarg);
                    return 2;
                }
                options.faults.jitter_ms = static_cast<uint32_t>(value);
                break;
            default:
                Usage(stderr);
                return 2;
        }
    }
    if (optind >= argc || argc - optind > 2) {
        Usage(stderr);
        return 2;
    }
    options.video_path = argv[optind];
    if (argc - optind == 2) options.audio_path = argv[optind + 1];

    // Block the ending signals before any thread starts, then wait for one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::string error;
    std::unique_ptr<rtspserve::Server> server = rtspserve::Server::Create(options, &error);
    if (!server) {
        std::fprintf(stderr, "rtspserve: %s\n", error.c_str());
        return 1;
    }
    std::string host = options.bind_address == "0.0.0.0" ? "127.0.0.1" : options.bind_address;
    std::string name = options.video_path.substr(options.video_path.find_last_of('/') + 1);
    // From here on standard error is written through the log queue only: a reader that
    // stops reading must not keep the signal below from ending the program.
    char line[1024];
    std::snprintf(line, sizeof line, "rtspserve: %s: %zu pictures at %.3f fps, %.3f s%s",
                  options.video_path.c_str(), server->Video().pictures.size(),
                  server->Video().frame_rate, server->DurationSeconds(),
                  server->Audio() ? ", with audio" : "");
    rtspserve::LogLine(line);
    std::printf("rtsp://%s:%u/%s\n", host.c_str(), server->Port(), name.c_str());
    std::fflush(stdout);
    server->Start();
    int received = 0;
    sigwait(&signals, &received);
    rtspserve::LogLine("rtspserve: stopping");
    server->Stop();
    // The log writer may be stuck on a full standard error: end without it then.
    if (!rtspserve::FlushLog(std::chrono::seconds(1))) std::_Exit(0);
    return 0;
}
