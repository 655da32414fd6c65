#!/usr/bin/env bash
# The user manuals beside the viewer: both PDFs there, several pages each,
# the window's screenshot inside, and their texts in their own language.
# Usage: manuals_test.sh FOLDER
set -euo pipefail
folder=$1
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

check_manual() {
  local file="$folder/$1"
  shift
  [ -s "$file" ] || fail "no $file"
  local pages
  pages=$(pdfinfo "$file" | sed -n 's/^Pages: *//p')
  [ "${pages:-0}" -ge 2 ] || fail "$file has ${pages:-no} pages"
  # The screenshot is the whole 1400 x 900 window.
  pdfimages -list "$file" | awk 'NR > 2 && $4 == 1400 && $5 == 900 { found = 1 } END { exit !found }' ||
    fail "$file holds no screenshot of the window: $(pdfimages -list "$file")"
  local text
  text=$(pdftotext -enc UTF-8 "$file" -)
  for word in "$@"; do
    grep -qF -- "$word" <<<"$text" || fail "$file does not say \"$word\""
  done
}

check_manual User_Manual_EN.pdf "User Manual" "Connect" "USB" "WiFi" "Brightness" "Capture" "Increase" \
  "17-digit" "already exists" "./applicaiton.ini" "Select Language" "Zone Overlay(Z)" "IMG.inspect.html"
check_manual User_Manual_CN.pdf "用户手册" "连接" "亮度" "拍照" "自动增加" "保存路径" "已经存在" \
  "./applicaiton.ini" "选择语言" "区域叠加(Z)" "IMG.inspect.html"
echo "manuals: all checks passed"
