#!/usr/bin/env bash
# Regenerates the committed sounds and icons. Run it from anywhere; it writes
# next to itself. Needs espeak-ng, sox and ImageMagick (Debian packages).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
snd="$here/sounds"
img="$here/images"
mkdir -p "$snd" "$img"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
CONVERT=/usr/bin/convert   # /usr/local/bin may hold a stand-in

# A spoken word in Mandarin, trimmed and fitted to the given length,
# as stereo 44.1 kHz 16-bit PCM.
speak() { # text seconds out
    espeak-ng -v cmn -s 190 -w "$tmp/raw.wav" "$1"
    sox "$tmp/raw.wav" -r 44100 -c 2 -b 16 "$2.tmp.wav" silence 1 0.01 1% reverse silence 1 0.01 1% reverse
    sox "$2.tmp.wav" "$3" tempo -s "$(python3 -c "import subprocess;d=float(subprocess.check_output(['soxi','-D','$2.tmp.wav']));print(max(0.5,min(2.0,d/$2)))")" trim 0 "$2" pad 0 "$2" trim 0 "$2"
    rm -f "$2.tmp.wav"
}

speak "正常" 0.63 "$snd/zhengchang.wav"
speak "异常" 0.59 "$snd/yichang.wav"
speak "pass" 0.38 "$snd/pass.wav"
speak "N G" 0.45 "$snd/ng.wav"

# Two short beeps ("dong dong"), mono 11025 Hz 8-bit, 0.25 s.
sox -n -r 11025 -c 1 -b 8 "$tmp/b1.wav" synth 0.09 sine 880 fade 0 0.09 0.03
sox -n -r 11025 -c 1 -b 8 "$tmp/gap.wav" trim 0 0.07
sox "$tmp/b1.wav" "$tmp/gap.wav" "$tmp/b1.wav" "$snd/901040.wav"
cp "$snd/901040.wav" "$snd/dudu.wav"
# A rising two-tone alarm, mono 11025 Hz 8-bit, 0.43 s.
sox -n -r 11025 -c 1 -b 8 "$snd/jingbao.wav" synth 0.43 square 700-1400 vol 0.5

# The control charts' chime, unlike any verdict's: three soft tones, high
# low high, mono 11025 Hz 8-bit, 0.6 s.
sox -n -r 11025 -c 1 -b 8 "$tmp/t1.wav" synth 0.16 triangle 1046 fade 0.01 0.16 0.05
sox -n -r 11025 -c 1 -b 8 "$tmp/t2.wav" synth 0.16 triangle 784 fade 0.01 0.16 0.05
sox -n -r 11025 -c 1 -b 8 "$tmp/gap2.wav" trim 0 0.05
sox "$tmp/t1.wav" "$tmp/gap2.wav" "$tmp/t2.wav" "$tmp/gap2.wav" "$tmp/t1.wav" "$snd/spc.wav" vol 0.7

# Icons: a plug for the serial tab, a globe-like network mark, the app icon.
$CONVERT -size 96x96 xc:none -fill '#1e5aa8' -draw 'roundrectangle 28,8 68,56 6,6' \
    -fill white -draw 'rectangle 36,18 42,28' -draw 'rectangle 54,18 60,28' \
    -fill '#1e5aa8' -draw 'rectangle 44,56 52,88' "$img/USB2.ico"
$CONVERT -size 128x128 xc:none -fill none -stroke '#1f8a4c' -strokewidth 8 \
    -draw 'circle 64,64 64,12' -draw 'line 12,64 116,64' -draw 'ellipse 64,64 22,52 0,360' "$img/network2.ico"
$CONVERT -size 256x256 xc:none -fill '#202830' -draw 'roundrectangle 8,8 248,248 40,40' \
    -fill none -stroke '#00d060' -strokewidth 14 -draw 'polyline 30,170 80,170 105,90 140,200 170,120 226,120' \
    -stroke none -fill '#e0e0e0' -draw 'rectangle 54,36 202,66' "$img/zentrel.png"
echo "assets written to $here"
