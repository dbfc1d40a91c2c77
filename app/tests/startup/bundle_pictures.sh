#!/usr/bin/env bash
# Every picture the screens ask for by name is in the bundle a fresh home gets: a missing one
# leaves its button printed bare and tappable only by coordinates.
#   bundle_pictures.sh SOURCE_ROOT NEWSREADER
set -uo pipefail
root=$1
reader=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The names: literals given to imageNamed, and to the helpers that hand their argument on to it
# (toolbar buttons also ask for the "_press" form).
sources=$(find "$root/news" "$root/ui" "$root/app" -name '*.cpp' -not -path '*/tests/*')
{
  grep -ohE 'imageNamed\("[^"]+"' $sources | sed -E 's/.*\("//; s/"$//'
  perl -0ne 'while (/(?:makeButton|addToolButton|imageView|VXLeftSideDO)\(([^;]*)/g) { my $a = $1; print "$_\n" for $a =~ /"([A-Za-z0-9_@-]+)"/g }' $sources
  grep -ohE 'return "splash_[^"]+"' $sources | sed -E 's/return "//; s/"$//'
  grep -ohE 'kBackImageName = "[^"]+"' $sources | sed -E 's/.*= "//; s/"$//'
  grep -ohE 'addButton\([0-9]+, "[^"]+"' $sources | sed -E 's/.*"([^"]+)"/\1\n\1_press/'
} | sort -u >"$work/names"
[ -s "$work/names" ] || { echo "FAIL: no picture names found in the sources"; exit 1; }

echo quit | "$reader" --home "$work/home" --server http://127.0.0.1:9 >/dev/null 2>"$work/err.txt"
missing=0
while read -r name; do
  if [ ! -s "$work/home/Bundle/$name.png" ]; then
    echo "FAIL: the bundle has no picture named $name"
    missing=1
  fi
done <"$work/names"
[ "$missing" -eq 0 ] || exit 1
echo "bundle: all $(wc -l <"$work/names") named pictures present"
