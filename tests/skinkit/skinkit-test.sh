#!/bin/sh
# The operator tools of the skin kit: style files, the partial-skin check and the example skin.
# Arguments: zarn-skingen, zarn-skincheck, the example skin folder, a scratch folder.
set -u
gen=$1 check=$2 example=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A style file gives the same pictures as the same options on the command line.
cat >"$scratch/aurora.style" <<'STYLE'
# comment lines and blank lines are skipped

accent = #5fa8e8
background=#0c1420
title = "Aurora Online"
subtitle =
label = start=进入游戏
label = web=官网
STYLE
"$gen" --skin-files --out "$scratch/cli" --accent '#5fa8e8' --background '#0c1420' --title 'Aurora Online' \
  --subtitle '' --label start=进入游戏 --label web=官网 >/dev/null || fail "command-line run"
"$gen" --style-file "$scratch/aurora.style" --skin-files --out "$scratch/file" >/dev/null || fail "style-file run"
for n in 1 7 19 28; do
  cmp -s "$scratch/cli/ZOVIR-$n.png" "$scratch/file/ZOVIR-$n.png" || fail "picture $n differs between style file and options"
done
cmp -s "$scratch/cli/ZOVIR-19.png" "$example/res_zn/ZOVIR-19.png" && fail "the restyle changed nothing"

# The command line wins over the style file.
"$gen" --style-file "$scratch/aurora.style" --accent '#c8963e' --skin-files --out "$scratch/override" >/dev/null ||
  fail "override run"
"$gen" --skin-files --out "$scratch/cli2" --accent '#c8963e' --background '#0c1420' --title 'Aurora Online' \
  --subtitle '' --label start=进入游戏 --label web=官网 >/dev/null || fail "second command-line run"
cmp -s "$scratch/override/ZOVIR-19.png" "$scratch/cli2/ZOVIR-19.png" || fail "the command line did not win over the style file"

# Bad style files are refused with their file and line, before anything is written.
printf 'accent = #5fa8e8\nbogus = 1\n' >"$scratch/bad.style"
printf 'accent #5fa8e8\n' >"$scratch/noeq.style"
for bad in "$scratch/bad.style:2: unknown option bogus" "$scratch/noeq.style:1: expected option = value" \
  "$scratch/none.style: cannot read"; do
  file=${bad%%:*}
  out=$("$gen" --style-file "$file" --out "$scratch/bad-out" 2>&1)
  rc=$?
  [ $rc -eq 1 ] || fail "$file: exit code $rc, expected 1"
  case "$out" in *"$bad"*) ;; *) fail "$file: no message '$bad' in: $out" ;; esac
  [ ! -e "$scratch/bad-out" ] || fail "$file: something was written"
done

# The example skin passes the partial check; a set with a missing picture and a broken file fail.
"$check" --partial "$example/res_zn" >/dev/null 2>&1 || fail "the example skin fails the partial check"
cp -r "$example/res_zn" "$scratch/incomplete"
rm "$scratch/incomplete/ZOVIR-20.png"
out=$("$check" --partial "$scratch/incomplete" 2>&1) && fail "a start button without picture 20 passed"
case "$out" in *"20 missing"*) ;; *) fail "no word of the missing picture 20: $out" ;; esac
cp -r "$example/res_zn" "$scratch/broken"
echo "not a picture" >"$scratch/broken/ZOVIR-42.png"
out=$("$check" --partial "$scratch/broken" 2>&1) && fail "a broken picture 42 passed"
case "$out" in *"picture 42: not a readable PNG"*) ;; *) fail "no word of the broken picture 42: $out" ;; esac
mkdir -p "$scratch/empty"
"$check" --partial "$scratch/empty" >/dev/null 2>&1 && fail "an empty skin folder passed"

[ $failures -eq 0 ] && echo "skin kit: style files, partial check and example skin as expected"
exit $failures
