#!/usr/bin/env bash
# Checks a mipsel Brimvale.tap against what every receiver generation offers:
#   - MIPS32 release 1, o32, position-independent code;
#   - not one floating-point instruction (firmwares are built for differing
#     floating-point conventions, and some CPUs have no FPU at all) and no
#     instruction of a later MIPS release;
#   - imports only the host interface names in host/tap.imports and the C
#     library names in host/libc.imports; no needed libraries, no symbol
#     versions.
# Prints every fault it finds and exits 1 when there is one. The build runs
# it after every link of the .tap: the cross build in full, a native build
# with --imports-only (its own machine's code, the same imports).
#
#   scripts/check-receiver-tap.sh out/receiver/Brimvale.tap
#   scripts/check-receiver-tap.sh --imports-only build/Brimvale.tap
set -euo pipefail
imports_only=0
if [ "${1:-}" = "--imports-only" ]; then
  imports_only=1
  shift
fi
tap=${1:?usage: $0 [--imports-only] Brimvale.tap}
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$imports_only" -eq 1 ]; then tools=${TOOLS_PREFIX:-}; else tools=${MIPSEL_TOOLS_PREFIX:-mipsel-linux-gnu-}; fi
faults=0
fault() {
  echo "check-receiver-tap: $tap: $*" >&2
  faults=$((faults + 1))
}

[ -f "$tap" ] || { echo "check-receiver-tap: $tap: no such file" >&2; exit 1; }

names() { sed -e 's/#.*//' -e 's/[[:space:]].*//' "$@" | sed '/^$/d'; }

# ---- what the receiver's loader must find ----
allowed=$(names "$top/host/tap.imports" "$top/host/libc.imports" | sort -u)
[ "$(wc -l <<<"$allowed")" -gt 60 ] || fault "host/tap.imports or host/libc.imports could not be read"
while read -r name; do
  [ -n "$name" ] || continue
  if grep -qxF "$name" <<<"$allowed"; then continue; fi
  case $name in
    TAP_*) fault "imports $name, which is not in host/tap.imports: a host without it cannot load the plug-in (look it up at run time)" ;;
    *) fault "imports $name, which is not in host/libc.imports: not every receiver's C library exports it" ;;
  esac
done < <("${tools}nm" -D --undefined-only "$tap" | awk '{print $NF}')
dynamic=$("${tools}readelf" -dW "$tap")
while read -r needed; do fault "needs the library $needed"; done < <(grep -o 'NEEDED.*\[.*\]' <<<"$dynamic" | sed 's/.*\[\(.*\)\]/\1/')
if "${tools}readelf" -SW "$tap" | grep -q '\.gnu\.version_r'; then fault "asks for symbol versions (.gnu.version_r)"; fi

if [ "$imports_only" -eq 1 ]; then
  if [ "$faults" -ne 0 ]; then
    echo "check-receiver-tap: $tap: $faults fault(s)" >&2
    exit 1
  fi
  exit 0
fi

# ---- the CPU and the ABI ----
header=$("${tools}readelf" -h "$tap")
grep -q "Machine:.*MIPS R3000" <<<"$header" || fault "not MIPS code"
grep -q "Class:.*ELF32" <<<"$header" || fault "not 32-bit code"
grep -q "Data:.*little endian" <<<"$header" || fault "not little-endian"
flags=$(grep "Flags:" <<<"$header")
# readelf names the architecture level last: "mips32" is release 1 only.
[[ $flags =~ ,\ o32, ]] || fault "not the o32 ABI: $flags"
[[ $flags =~ ,\ pic, ]] || fault "not position-independent: $flags"
[[ $flags =~ ,\ mips32$ ]] || fault "not MIPS32 release 1: $flags"
for ase in mips16 micromips dsp mdmx smartmips mt msa; do
  if grep -qi "ASEs:.*$ase\|ISA Extension:.*$ase" < <("${tools}readelf" -A "$tap"); then fault "uses the $ase extension"; fi
done

# ---- the code: every instruction MIPS32r1, none of the FPU ----
# Disassembled as plain MIPS32: an encoding of a later release decodes to no
# instruction (".word") or to one of the names below.
later='^(ror|rorv|rotr|rotrv|seb|seh|wsbh|ext|ins|di|ei|ehb|pause|synci|rdhwr|rdpgpr|wrpgpr|jr\.hb|jalr\.hb|lwxc1|swxc1|ldxc1|sdxc1|luxc1|suxc1|madd\.[sd]|msub\.[sd]|nmadd\.[sd]|nmsub\.[sd])$'
fpu='^(lwc1|swc1|ldc1|sdc1|lwxc1|swxc1|ldxc1|sdxc1|luxc1|suxc1|mfc1|mtc1|mfhc1|mthc1|cfc1|ctc1|bc1f|bc1t|bc1fl|bc1tl|movf|movt)$|^c\.|^cvt\.|\.(s|d|ps|w|l)$'
instructions=0
while IFS=$'\t' read -r address bytes mnemonic operands; do
  [[ $address =~ ^\ *[0-9a-f]+:$ ]] || continue
  instructions=$((instructions + 1))
  if [ "$mnemonic" = ".word" ]; then
    fault "instruction outside MIPS32r1 at ${address//[ :]/}: ${bytes% }"
  elif [[ $mnemonic =~ $fpu ]]; then
    fault "floating-point instruction at ${address//[ :]/}: $mnemonic $operands"
  elif [[ $mnemonic =~ $later ]]; then
    fault "instruction outside MIPS32r1 at ${address//[ :]/}: $mnemonic $operands"
  fi
done < <("${tools}objdump" -d -m mips:isa32 "$tap")
[ "$instructions" -gt 1000 ] || fault "only $instructions instructions disassembled: is this the plug-in?"

if [ "$faults" -ne 0 ]; then
  echo "check-receiver-tap: $tap: $faults fault(s)" >&2
  exit 1
fi
echo "check-receiver-tap: $tap: MIPS32r1 o32 PIC, $instructions instructions, no FPU, imports only host/tap.imports and host/libc.imports"
