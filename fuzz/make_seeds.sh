#!/bin/bash
# make_seeds.sh PACK_IMAGE OUTDIR
# Seed corpora for the fuzz targets: small volumes made with mkfs.fat and
# filled with mtools (packed into the sparse input form by PACK_IMAGE), short
# operation sequences and a few paths.
set -euo pipefail
pack=$1
out=$2
mkdir -p "$out/mount_walk" "$out/op_sequence" "$out/path_parser"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

# fill IMAGE [OFFSET_SECTORS]: a tree with nested directories, a file over
# several clusters, a fragmented file, a long name and a deleted entry.
fill() {
  local img="$1@@$(( ${2:-0} * 512 ))"
  seq 1 2000 > "$work/numbers"
  head -c 3000 "$work/numbers" > "$work/big"
  printf 'hello\r\n' > "$work/small"
  mmd -i "$img" ::/DIR ::/DIR/SUB
  mcopy -i "$img" "$work/small" ::/A.TXT
  mcopy -i "$img" "$work/big" ::/DIR/BIG.BIN
  mcopy -i "$img" "$work/small" ::/DIR/SUB/C
  mcopy -i "$img" "$work/small" "::/Long name here.text"
  mcopy -i "$img" "$work/small" ::/GONE.TXT
  mcopy -i "$img" "$work/big" ::/DIR/FRAG.BIN
  mdel -i "$img" ::/GONE.TXT
  mcopy -o -i "$img" "$work/big" ::/DIR/SUB/LATER.BIN
}

# FAT12, one sector per cluster, whole card.
mkfs.fat -C -F 12 -s 1 "$work/f12.img" 400 > /dev/null
fill "$work/f12.img"
# FAT12 with four-sector clusters and a single FAT.
mkfs.fat -C -F 12 -s 4 -f 1 "$work/f12s4.img" 1024 > /dev/null
fill "$work/f12s4.img"
# FAT16 inside a partition that starts at sector 63.
truncate -s 9M "$work/f16p.img"
mkfs.fat -F 16 -s 1 -h 63 --offset 63 "$work/f16p.img" $(( 9 * 1024 - 32 )) > /dev/null
printf '\x00\x00\x00\x00\x06\x00\x00\x00\x3f\x00\x00\x00\xc1\x47\x00\x00' |
  dd of="$work/f16p.img" bs=1 seek=446 conv=notrunc status=none
printf '\x55\xaa' | dd of="$work/f16p.img" bs=1 seek=510 conv=notrunc status=none
fill "$work/f16p.img" 63
# FAT32 with the fewest clusters it allows.
mkfs.fat -C -F 32 -s 1 "$work/f32.img" 34000 > /dev/null
fill "$work/f32.img"

for img in f12 f12s4 f16p f32; do
  "$pack" "$work/$img.img" "$out/mount_walk/$img"
done

# Operation sequences: byte 0 picks the base volume, then (op, slot, args...).
seq() { printf "$2" > "$out/op_sequence/$1"; }
seq create_write_close '\x00\x00\x00\x04\x00\x01\x00\x00\xa0\x0f\x11\x06\x00'
seq nested_dirs '\x01\x07\x00\x02\x07\x00\x04\x00\x00\x05\x04\x01\x00\x00\x20\x03\x05\x08\x00\x02\x06\x0b\x00\x04'
seq seek_truncate '\x02\x00\x00\x05\x01\x00\x00\x00\x10\x33\x03\x00\x00\x04\x04\x00\x02\x00\x00\x00\x02\x06\x00'
# The same with the disk failing after a few transfers (top bit of byte 0).
seq faulty_write '\x80\x03\x00\x00\x04\x00\x01\x00\x00\xa0\x0f\x11\x05\x00\x02\x00\x00\x10\x06\x00'
seq faulty_dirs '\x82\x08\x07\x00\x02\x07\x00\x04\x00\x00\x05\x04\x01\x00\x00\x20\x03\x05\x08\x00\x02\x06'
seq fat32_rename '\x03\x00\x01\x04\x00\x01\x00\x00\x30\x42\x06\x01\x07\x00\x06\x08\x00\x00\x07\x0a\x00\x07'

# Paths (NUL separates the paths of one input).
pth() { printf "$2" > "$out/path_parser/$1"; }
pth plain 'DIR/SUB/C'
pth drive '0:/A.TXT\0DIR/NEW.X'
pth dots '../DIR/./SUB/..\0..'
pth back 'DIR\\B.BIN\0DIR\\SUB\\D'
pth lower 'dir/b.bin\0new dir'
pth forbidden 'A+B.TXT\0X*Y\0Q"\0Z|W'
pth long 'ABCDEFGHIJ.KLMN\0DIR/SUB/VERYLONGNAME.EXTENSION'
