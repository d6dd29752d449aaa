#!/usr/bin/env bash
# Writes the seed corpora under tests/fuzz/corpus/: response frames as the board sends them,
# firmware images from zavlo-mkimage, and captured board text.
# Usage: makecorpus.sh <path to zavlo-mkimage>
set -euo pipefail
mkimage=${1:?usage: makecorpus.sh <path to zavlo-mkimage>}
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus

# CRC-16/XMODEM of the byte values given as arguments.
crc16() {
    local crc=0 b i
    for b in "$@"; do
        crc=$((crc ^ (b << 8)))
        for i in 1 2 3 4 5 6 7 8; do
            if ((crc & 0x8000)); then crc=$(((crc << 1 ^ 0x1021) & 0xFFFF)); else crc=$(((crc << 1) & 0xFFFF)); fi
        done
    done
    echo "$crc"
}

# A response frame: 5A, Length, command, status, data bytes, CRC low byte first.
frame() {
    local bytes=(0x5A $(($# + 2)) "$@")
    local crc
    crc=$(crc16 "${bytes[@]}")
    bytes+=($((crc & 0xFF)) $((crc >> 8)))
    local b
    for b in "${bytes[@]}"; do printf '%02x' $((b)); done
}

# Writes hex digits as bytes.
unhex() {
    local hex=$1 i
    for ((i = 0; i < ${#hex}; i += 2)); do printf "\\x${hex:i:2}"; done
}

# A seed for fuzz_responseassembler: flags (chunk-size count, bit 4 = empty start buffer),
# expected command, chunk sizes, then the stream.
seed() {
    local name=$1 flags=$2 command=$3 sizes=$4 stream=$5
    { unhex "$flags$command$sizes"; unhex "$stream"; } > "$corpus/fuzz_responseassembler/$name"
}

rm -rf "$corpus"
mkdir -p "$corpus/fuzz_responseassembler" "$corpus/fuzz_firmwareimage" "$corpus/fuzz_fodcapture"

boot_status=$(frame 0x08 0x00 0x00 0xA5)           # REG_BOOT_STATUS reads 0xA500
block_ack=$(frame 0x01 0x00)                        # block write accepted
settings_error=$(frame 0x03 0xFE)                   # settings block refused with -2
registers=$(frame 0x08 0x00 0x03 0x01 0xE9 0x03 0x40 0x00 0x78 0x00)
page=$(frame 0x06 0x00 $(for ((i = 0; i < 123; i++)); do printf '0x%02x ' $(((i * 7 + 1) & 0xFF)); done))
seed boot-status-one-chunk 00 08 "" "$boot_status"
seed block-ack-empty-buffer 10 01 "" "$block_ack"
seed settings-error 00 03 "" "$settings_error"
seed register-read 00 08 "" "$registers"
seed largest-page-read 00 06 "" "$page"
seed text-before-frame 00 08 "" "$(printf 'Coil= 2\r\n' | od -An -tx1 | tr -d ' \n')$boot_status"
seed sof-ends-chunk 01 08 01 "$boot_status"
seed byte-by-byte 08 01 0101010101010101 "$block_ack"
seed bytes-after-frame 02 08 0310 "${boot_status}0d0a5a0608"
seed wrong-echo 00 08 "" "$(frame 0x48 0x00 0x00 0xA5)"
seed length-zero 00 08 "" "5a00080000a5$boot_status"
seed length-negative 01 06 20 "5a8006$page"

mk() {
    local name=$1
    shift
    "$mkimage" -o "$corpus/fuzz_firmwareimage/$name" --app-size 96 --settings-size 32 --cal-size 24 "$@"
}
mk three-sections --description "Zavlo TX 2.5"
mk no-sections --app-size 0 --settings-size 0 --cal-size 0
mk settings-only --app-size 0 --cal-size 0 --settings-version 1.4
mk calibration-serial --app-size 0 --settings-size 0 --cal-size 120 --serial SN-0042
mk settings-no-magic --settings-no-magic
mk calibration-no-magic --cal-no-magic
mk wrong-magic --wrong-magic
mk description-unterminated --description-unterminated
mk truncated-header --truncate 140
mk truncated-sections --truncate 380
mk application-claim-past-end --app-size-claim 0xFFFFFF00
mk calibration-claim-past-end --cal-size-claim 0xFFFFFFFF
mk short-settings --settings-size-claim 13

capture() {
    printf "$2" > "$corpus/fuzz_fodcapture/$1"
}
capture two-rows '1 127700   1055   1903     80   1823   1482\r\n1 128100   1061   1911     82   1829   1490\r\n'
capture status-line 'Coil= 2  L= error   R_total= error   R= error   Q=     0        chi=         0\r\n1 127700   1055   1903     80   1823   1482\r\n'
capture mixed-line-ends '2 1500 900 1400 60 840 812.5000\r3 2500 950 1600 70 880 901.2500\n\n4 3200 990 1700 75 915 960.7500\r\n'
capture xmc-gains '2 1200 800 1300 50 750 742.1250\r\n2 2600 860 1500 65 795 780.0000\r\n3 1900 870 1450 61 809 799.5000\r\n3 3100 910 1620 72 838 822.2500\r\n4 2200 930 1580 68 862 850.1250\r\n4 3400 990 1710 79 911 902.0000\r\n'
capture split-line '1 127700   1055\r\n   1903     80   1823   1482\r\n'
capture wrong-field-counts '1 2 3 4 5 6\r\n1 2 3 4 5 6 7 8\r\nab cd ef gh ij kl mn\r\n'
capture plain-text 'Zavlo TX application 2.5\r\nPower transfer started\r\n'
