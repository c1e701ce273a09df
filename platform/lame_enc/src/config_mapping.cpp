#include "config_mapping.h"

namespace lame_enc {
namespace {

bool IsMp3SampleRate(unsigned rate) {
    switch (rate) {
        case 8000:
        case 11025:
        case 12000:
        case 16000:
        case 22050:
        case 24000:
        case 32000:
        case 44100:
        case 48000:
            return true;
        default:
            return false;
    }
}

// Lowest and highest layer III bit rates of any MPEG version (kbit/s).
bool IsBitrateInRange(unsigned kbps) {
    return kbps >= 8 && kbps <= 320;
}

// The older named presets carry a bit rate and mode of their own; here bit rate, mode and rates
// always come from the record, so each of them only chooses how hard the encoder works.
// The quality presets map to LAME's algorithm quality (0 best, 9 fastest); the complete VBR
// presets map to LAME's own presets and so decide the VBR settings themselves.
struct PresetEffect {
    int quality = -1;     // algorithm quality, -1 = leave LAME's default
    int lame_preset = 0;  // LAME preset number, 0 = none
};

bool PresetFor(long preset, PresetEffect& effect) {
    switch (preset) {
        case LQP_NOPRESET:
        case LQP_CBR:
        case LQP_ABR:
            return true;
        case LQP_NORMAL_QUALITY:
            effect.quality = 5;
            return true;
        case LQP_LOW_QUALITY:
            effect.quality = 9;
            return true;
        case LQP_HIGH_QUALITY:
            effect.quality = 2;
            return true;
        case LQP_VOICE_QUALITY:
            effect.quality = 5;
            return true;
        case LQP_VERYHIGH_QUALITY:
            effect.quality = 0;
            return true;
        case LQP_R3MIX:
            effect.lame_preset = R3MIX;
            return true;
        case LQP_STANDARD:
            effect.lame_preset = STANDARD;
            return true;
        case LQP_FAST_STANDARD:
            effect.lame_preset = STANDARD_FAST;
            return true;
        case LQP_EXTREME:
            effect.lame_preset = EXTREME;
            return true;
        case LQP_FAST_EXTREME:
            effect.lame_preset = EXTREME_FAST;
            return true;
        case LQP_INSANE:
            effect.lame_preset = INSANE;
            return true;
        case LQP_MEDIUM:
            effect.lame_preset = MEDIUM;
            return true;
        case LQP_FAST_MEDIUM:
            effect.lame_preset = MEDIUM_FAST;
            return true;
        case LQP_PHONE:
        case LQP_SW:
        case LQP_AM:
        case LQP_VOICE:
            effect.quality = 5;
            return true;
        case LQP_FM:
        case LQP_RADIO:
        case LQP_TAPE:
            effect.quality = 3;
            return true;
        // High fidelity and above: LAME's "-h" quality, the slower, better noise shaping.
        case LQP_HIFI:
        case LQP_CD:
        case LQP_STUDIO:
            effect.quality = 2;
            return true;
        default:
            return false;
    }
}

BE_ERR ApplyLame(const decltype(BE_CONFIG::format.LHV1)& c, lame_global_flags* gfp) {
    if (c.dwSampleRate == 0 || c.dwSampleRate > 768000) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // Asking to keep an input rate that MP3 cannot carry (96 kHz, say) leaves the choice to the
    // encoder; any other rate MP3 has no frames for is refused.
    unsigned out_rate = c.dwReSampleRate != 0 ? c.dwReSampleRate : c.dwSampleRate;
    if (!IsMp3SampleRate(out_rate)) {
        if (out_rate != c.dwSampleRate) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        out_rate = 0;
    }

    MPEG_mode mode;
    switch (c.nMode) {
        case BE_MP3_MODE_STEREO:
            mode = STEREO;
            break;
        case BE_MP3_MODE_JSTEREO:
            mode = JOINT_STEREO;
            break;
        // libmp3lame has no dual-channel coding; two independent channels is the nearest.
        case BE_MP3_MODE_DUALCHANNEL:
            mode = STEREO;
            break;
        case BE_MP3_MODE_MONO:
            mode = MONO;
            break;
        default:
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }

    PresetEffect preset;
    if (!PresetFor(c.nPreset, preset)) return BE_ERR_INVALID_FORMAT_PARAMETERS;

    const int channels = mode == MONO ? 1 : 2;
    lame_set_num_channels(gfp, channels);
    lame_set_in_samplerate(gfp, static_cast<int>(c.dwSampleRate));
    lame_set_out_samplerate(gfp, static_cast<int>(out_rate));
    lame_set_mode(gfp, mode);

    if (preset.lame_preset != 0) {
        lame_set_preset(gfp, preset.lame_preset);
    } else if (c.bEnableVBR) {
        if (c.dwBitrate != 0 && !IsBitrateInRange(c.dwBitrate))
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        if (c.dwMaxBitrate != 0 && !IsBitrateInRange(c.dwMaxBitrate))
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        if (c.nVBRQuality < 0 || c.nVBRQuality > 9) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        switch (c.nVbrMethod) {
            case VBR_METHOD_NONE:
                lame_set_VBR(gfp, vbr_off);
                break;
            case VBR_METHOD_DEFAULT:
                lame_set_VBR(gfp, vbr_default);
                break;
            case VBR_METHOD_OLD:
                lame_set_VBR(gfp, vbr_rh);
                break;
            case VBR_METHOD_NEW:
            case VBR_METHOD_MTRH:
                lame_set_VBR(gfp, vbr_mtrh);
                break;
            case VBR_METHOD_ABR:
                lame_set_VBR(gfp, vbr_abr);
                if (c.dwVbrAbr_bps < 8000 || c.dwVbrAbr_bps > 320000)
                    return BE_ERR_INVALID_FORMAT_PARAMETERS;
                lame_set_VBR_mean_bitrate_kbps(gfp, static_cast<int>(c.dwVbrAbr_bps / 1000));
                break;
            default:
                return BE_ERR_INVALID_FORMAT_PARAMETERS;
        }
        lame_set_VBR_q(gfp, c.nVBRQuality);
        if (c.dwBitrate != 0) lame_set_VBR_min_bitrate_kbps(gfp, static_cast<int>(c.dwBitrate));
        if (c.dwMaxBitrate != 0)
            lame_set_VBR_max_bitrate_kbps(gfp, static_cast<int>(c.dwMaxBitrate));
    } else {
        if (!IsBitrateInRange(c.dwBitrate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        lame_set_VBR(gfp, vbr_off);
        lame_set_brate(gfp, static_cast<int>(c.dwBitrate));
    }
    if (preset.quality >= 0) lame_set_quality(gfp, preset.quality);

    // An explicit quality counts only when its high byte is the complement of the low byte,
    // so a zeroed record leaves the preset's choice alone.
    const unsigned q = c.nQuality & 0xFFu;
    if (((c.nQuality >> 8) & 0xFFu) == (~q & 0xFFu) && q <= 9)
        lame_set_quality(gfp, static_cast<int>(q));

    lame_set_emphasis(gfp, static_cast<int>(c.dwEmphasis));
    lame_set_extension(gfp, c.bPrivate ? 1 : 0);
    lame_set_error_protection(gfp, c.bCRC ? 1 : 0);
    lame_set_copyright(gfp, c.bCopyright ? 1 : 0);
    lame_set_original(gfp, c.bOriginal ? 1 : 0);
    lame_set_bWriteVbrTag(gfp, c.bWriteVBRHeader ? 1 : 0);
    lame_set_disable_reservoir(gfp, c.bNoRes ? 1 : 0);
    lame_set_strict_ISO(gfp, c.bStrictIso ? 1 : 0);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR ApplyMp3(const decltype(BE_CONFIG::format.mp3)& c, lame_global_flags* gfp) {
    if (!IsMp3SampleRate(c.dwSampleRate) || !IsBitrateInRange(c.wBitrate))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    MPEG_mode mode;
    switch (c.byMode) {
        case BE_MP3_MODE_STEREO:
        case BE_MP3_MODE_DUALCHANNEL:
            mode = STEREO;
            break;
        case BE_MP3_MODE_JSTEREO:
            mode = JOINT_STEREO;
            break;
        case BE_MP3_MODE_MONO:
            mode = MONO;
            break;
        default:
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    lame_set_num_channels(gfp, mode == MONO ? 1 : 2);
    lame_set_in_samplerate(gfp, static_cast<int>(c.dwSampleRate));
    lame_set_out_samplerate(gfp, static_cast<int>(c.dwSampleRate));
    lame_set_mode(gfp, mode);
    lame_set_brate(gfp, c.wBitrate);
    lame_set_extension(gfp, c.bPrivate ? 1 : 0);
    lame_set_error_protection(gfp, c.bCRC ? 1 : 0);
    lame_set_copyright(gfp, c.bCopyright ? 1 : 0);
    lame_set_original(gfp, c.bOriginal ? 1 : 0);
    lame_set_bWriteVbrTag(gfp, 0);
    return BE_ERR_SUCCESSFUL;
}

}  // namespace

int InputChannels(const BE_CONFIG& config) {
    if (config.dwConfig == BE_CONFIG_MP3)
        return config.format.mp3.byMode == BE_MP3_MODE_MONO ? 1 : 2;
    return config.format.LHV1.nMode == BE_MP3_MODE_MONO ? 1 : 2;
}

BE_ERR ApplyConfig(const BE_CONFIG& config, lame_global_flags* gfp) {
    switch (config.dwConfig) {
        case BE_CONFIG_MP3:
            return ApplyMp3(config.format.mp3, gfp);
        case BE_CONFIG_LAME:
            // Older callers may pass a shorter record; the fields read here are all in version 1.
            if (config.format.LHV1.dwStructVersion < 1) return BE_ERR_INVALID_FORMAT_PARAMETERS;
            return ApplyLame(config.format.LHV1, gfp);
        default:
            return BE_ERR_INVALID_FORMAT;
    }
}

}  // namespace lame_enc
