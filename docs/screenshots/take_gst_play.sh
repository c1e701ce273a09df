#!/usr/bin/env bash
# Takes the screenshot of gst-play-1.0 playing the main job's clip (.asm) through the
# tool set's GStreamer plugin, under a virtual X server (ximagesink, grabbed with ximagesrc).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
cmake --build build --target gstavs Harrowgate Lindqvale >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The main job's clip and its Harrowgate options (scripts/main_job.sh).
ffmpeg -v error -y -f lavfi -i "testsrc2=size=352x288:rate=24:duration=4" \
  -f lavfi -i "sine=frequency=440:duration=4" -c:v mpeg4 -q:v 2 -c:a pcm_s16le -ac 2 clip.avi
"$root/build/bin/Harrowgate" clip.avi clip.avi.avs -c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 \
  -m 32 -t 1 -l 1 -n 24.000000 >/dev/null
ffmpeg -v error -y -i clip.avi -c:a libmp3lame clip.avi.mp3
"$root/build/bin/Lindqvale" clip.avi.avs clip.avi.asm -f >/dev/null
"$root/build/bin/Lindqvale" clip.avi.mp3 clip.avi.asm >/dev/null
cat >shot.sh <<EOF
#!/usr/bin/env bash
export GST_PLUGIN_PATH=$root/build/gst
gst-play-1.0 --videosink=ximagesink --audiosink=fakesink clip.avi.asm >/dev/null 2>&1 &
sleep 2.5
gst-launch-1.0 -q ximagesrc num-buffers=1 startx=0 starty=0 endx=351 endy=287 use-damage=false \
  ! videoconvert ! pngenc ! filesink location=$root/docs/screenshots/gst-play-asm.png
wait
EOF
chmod +x shot.sh
xvfb-run -a -s "-screen 0 640x480x24" ./shot.sh
