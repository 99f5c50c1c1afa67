#!/usr/bin/env bash
# Draws the program's images with ImageMagick. Run from anywhere; the images
# land beside this script and are committed, so a build never needs this.
set -euo pipefail
cd "$(dirname "$0")"

font=$(fc-match -f '%{file}' 'Liberation Sans:bold' 2>/dev/null || true)
font_args=()
[[ -n "$font" && -f "$font" ]] && font_args=(-font "$font")

# Status lamp: a shaded disc with a thin darker rim on a transparent ground.
# Drawn at four times the size and scaled down, which anti-aliases the edge.
lamp() {  # size colour rim highlight file
    local s=$1 big=$(($1 * 4))
    local c=$((big / 2)) r=$((big / 2 - big / 12)) w=$((big / 24 > 1 ? big / 24 : 1))
    local hx=$((c - r / 3)) hy=$((c - r / 3))
    convert -size "${big}x${big}" xc:none \
        -fill "$2" -stroke "$3" -strokewidth "$w" -draw "circle $c,$c $c,$((c - r))" \
        \( -size "${big}x${big}" xc:none -fill "$4" -stroke none \
           -draw "circle $hx,$hy $hx,$((hy - r / 3))" -blur 0x$((big / 16)) \) \
        -compose over -composite \
        -resize "${s}x${s}" -define png:color-type=6 "PNG32:$5"
}

for entry in ":24" "_m:36" "_l:48"; do
    suffix=${entry%%:*}
    size=${entry##*:}
    lamp "$size" '#9a9a9a' '#6e6e6e' '#e6e6e6c0' "grey_circle${suffix}.png"
    lamp "$size" '#2fbf3a' '#1d7f25' '#c8ffc8c0' "green_circle${suffix}.png"
done

# Word-mark: the company name in dark blue with a teal bar, on transparency.
# Drawn large and kept at twice the size the window shows it (160 x 20): a
# larger picture only costs decoding time at every start.
convert -size 1280x230 xc:none \
    -fill '#1a8f9a' -draw "roundrectangle 20,40 190,190 24,24" \
    -fill white "${font_args[@]}" -pointsize 150 -gravity northwest -annotate +48+28 'N' \
    -fill '#1b2f6b' "${font_args[@]}" -pointsize 150 -annotate +230+28 'NORVANE' \
    -resize 320x58 -define png:color-type=6 PNG32:Norvane_Wide_L.png

# Window icon: the same mark at 16 x 16.
convert -size 64x64 xc:none \
    -fill '#1a8f9a' -draw "roundrectangle 2,2 61,61 12,12" \
    -fill white "${font_args[@]}" -pointsize 56 -gravity center -annotate +0+2 'N' \
    -resize 16x16 N.ico
# The same as PNG for the window, which Qt reads without loading an image
# plug-in at start (the .ico stays in the collection for whoever wants it).
convert N.ico -define png:color-type=6 PNG32:N_icon.png

# Desktop icon: the same mark, drawn large and scaled to the sizes the
# desktop menu asks for (installed under share/icons/hicolor).
for size in 48 128 256; do
    convert -size 1024x1024 xc:none \
        -fill '#1a8f9a' -draw "roundrectangle 48,48 975,975 180,180" \
        -fill white "${font_args[@]}" -pointsize 820 -gravity center -annotate +0+24 'N' \
        -resize "${size}x${size}" -define png:color-type=6 "PNG32:app_icon_${size}.png"
done

identify *.png N.ico
