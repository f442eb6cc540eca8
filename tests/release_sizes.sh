#!/bin/sh
# Prints the launcher's size with and without its icon, and what each image
# of the icon takes.
#   release_sizes.sh WITH_ICON_EXE WITHOUT_ICON_EXE ICON_FILE
set -eu
with=$(wc -c <"$1")
without=$(wc -c <"$2")
icon=$3
echo "lindquay-updater.exe with the icon:    $with bytes"
echo "lindquay-updater.exe without the icon: $without bytes"
echo "the icon adds:                         $((with - without)) bytes"
echo "$(basename "$icon"): $(wc -c <"$icon") bytes, images:"
# ICONDIR: six bytes, then 16 bytes an image: width, height, colours,
# reserved, planes, bits per pixel, size, offset.
count=$(od -An -tu2 -j4 -N2 "$icon" | tr -d ' ')
i=0
while [ "$i" -lt "$count" ]; do
  set -- $(od -An -tu1 -j$((6 + 16 * i)) -N2 "$icon") $(od -An -tu2 -j$((6 + 16 * i + 6)) -N2 "$icon") \
    $(od -An -tu4 -j$((6 + 16 * i + 8)) -N4 "$icon")
  width=$1
  [ "$width" -eq 0 ] && width=256
  echo "  ${width}x${width} at $3 bits: $4 bytes"
  i=$((i + 1))
done
