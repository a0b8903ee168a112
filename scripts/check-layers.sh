#!/usr/bin/env bash
# Arrows point down: each folder of src/ may include only the folders below it (and itself).
# Prints every include that points elsewhere; the exit code is non-zero when there is one.
set -uo pipefail
cd "$(dirname "$0")/../src"

allowed() {  # folder -> the folders it may include
  case "$1" in
    platform) echo "platform" ;;
    device) echo "device platform" ;;
    config) echo "config device platform" ;;
    localization) echo "localization config device platform" ;;
    production) echo "production config device platform" ;;
    lineview) echo "lineview production localization config device platform" ;;
    ui) echo "ui platform" ;;
    presence) echo "presence production config device platform" ;;
    presenter) echo "presenter presence ui production localization config device platform" ;;
    station) echo "station presenter presence ui production localization config device platform" ;;
    ui/qt) echo "ui/qt ui station presenter presence production localization config device platform" ;;
    ui/win32) echo "ui/win32 ui station presenter presence production localization config device platform" ;;
    *) echo "" ;;
  esac
}

bad=0
while IFS= read -r file; do
  folder=$(dirname "$file")
  ok=" $(allowed "$folder") "
  while IFS= read -r target; do
    [ -z "$target" ] && continue
    # ui/qt and ui/win32 are layers of their own, above ui; neither reaches the other.
    case "$target" in ui/qt/*) layer=ui/qt ;; ui/win32/*) layer=ui/win32 ;; *) layer=${target%%/*} ;; esac
    if [[ "$ok" != *" $layer "* ]]; then
      echo "$file includes $target: $folder may not reach $layer"
      bad=1
    fi
  done < <(sed -nE 's/^#include "([a-z]+\/[^"]+)".*/\1/p' "$file")
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | sort)
exit $bad
