#!/usr/bin/env bash
# Builds the libFuzzer drivers that sit beside the parsers of outside input
# (lib/*/fuzz/) with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs each for a bounded time (default 20 s; FUZZ_SECONDS overrides):
#
#   scripts/fuzz.sh            # every driver, 20 s each
#   FUZZ_SECONDS=600 scripts/fuzz.sh ini   # one driver, ten minutes
#
# Corpora live in tests/fuzz-corpus/<driver>/ and grow as the fuzzer finds
# new paths; a crash leaves its input in out/fuzz/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (apt-get install clang)"; exit 1; }

seconds=${FUZZ_SECONDS:-20}
out=out/fuzz
mkdir -p "$out"
flags=(-std=c++17 -DBRIMVALE_FUZZ -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I.)

declare -A drivers=(
  [text]="lib/text/fuzz/StrToUTF8_fuzz.cpp lib/text/StrToUTF8.cpp lib/text/StrToUTF8Bounded.cpp lib/text/UTF32ToUTF8.cpp lib/text/isUTF8Char.cpp lib/text/UTFLookupISO*.cpp"
  [paths]="lib/paths/fuzz/paths_fuzz.cpp lib/paths/*.cpp lib/str/*.cpp lib/text/StrToUTF8Bounded.cpp lib/text/UTF32ToUTF8.cpp lib/text/isUTF8Char.cpp lib/text/isUTFFirmware.cpp lib/text/UTFLookupISO*.cpp"
  [firmware]="lib/firmware/fuzz/firmware_dat_fuzz.cpp lib/firmware/LoadFirmwareDat.cpp lib/firmware/FirmwareDatFindReceiver.cpp lib/firmware/GetSystemType.cpp lib/firmware/GetSysID.cpp lib/firmware/FirmwareDatMJD.cpp lib/firmware/FirmwareDatWord.cpp lib/firmware/FirmwareDatDword.cpp lib/firmware/FWDATBin.cpp lib/firmware/SystemType.cpp"
  [timers]="lib/timers/fuzz/timer_fuzz.cpp lib/timers/FlashTimer*_ST_*.cpp lib/timers/TimerLayout_*.cpp lib/timers/TimerCommonGroups.cpp lib/timers/TimerDecodeSlot.cpp lib/timers/TimerEncodeSlot.cpp lib/timers/TimerCopyName.cpp"
  [ini]="lib/ini/fuzz/ini_fuzz.cpp lib/ini/INIBuffer.cpp lib/ini/INIFindEntry.cpp lib/ini/INIFindStartEnd.cpp lib/ini/INIGetInt.cpp lib/ini/INIGetString.cpp lib/ini/INISetInt.cpp lib/ini/INISetString.cpp lib/ini/INICloseFile.cpp lib/ini/stricstr.cpp lib/ini/SkipCharTableBytes.cpp lib/str/*.cpp"
)

selected=("$@")
((${#selected[@]})) || selected=("${!drivers[@]}")
for name in "${selected[@]}"; do
  sources=${drivers[$name]:-}
  [ -n "$sources" ] || { echo "fuzz.sh: no driver '$name' (have: ${!drivers[*]})"; exit 2; }
  echo "=== fuzz $name for ${seconds}s"
  # shellcheck disable=SC2086
  clang++ "${flags[@]}" $sources -o "$out/$name"
  corpus=tests/fuzz-corpus/$name
  mkdir -p "$corpus"
  "$out/$name" "$corpus" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$out/$name-" -print_final_stats=1 2>&1 |
    grep -E '^(#|stat::number_of_executed_units|==|SUMMARY)' | tail -n 4
done
echo "fuzzing passed"
