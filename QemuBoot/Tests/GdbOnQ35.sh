#!/bin/sh
# Debugs the q35 boot at source level: Scripts/q35-debug boots both images halted, and gdb, in
# batch mode with the commands it wrote, stops at SetIoDecode (the first request's port is 0x2E,
# called from the line that walks the decode table) and at SerialPrint (the format is the first
# message), then ends the emulator.
#
# Usage: GdbOnQ35.sh SOURCE_DIR BUILD_DIR
# Exit status: 0 pass, 1 fail, 77 skipped because QEMU or gdb is not installed.
set -u
source_dir=$1
build=$2
skip_status=77
for tool in qemu-system-x86_64 gdb; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (Scripts/setup installs it)"
    exit $skip_status
  fi
done

work=$(mktemp -d)
trap 'kill "$boot" 2>/dev/null; rm -rf "$work"' EXIT
# A port of its own for each run, so that two runs at once do not meet; another port when one is
# taken.
boot=
for attempt in 0 1 2 3 4; do
  port=$((20000 + ($$ + attempt * 7919) % 20000))
  rm -f "$work/q35.gdb"
  "$source_dir/Scripts/q35-debug" --port "$port" --commands "$work/q35.gdb" --build "$build" \
    >"$work/serial" 2>"$work/boot.err" &
  boot=$!
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    [ -s "$work/q35.gdb" ] && grep -q waiting "$work/boot.err" && break
    sleep 0.5
  done
  sleep 0.5
  if kill -0 "$boot" 2>/dev/null; then
    break
  fi
  boot=
done
if [ -z "$boot" ]; then
  echo "FAIL: the emulator did not start with its gdb stub:"
  cat "$work/boot.err"
  exit 1
fi

cat >"$work/test.gdb" <<'GDB'
break *SetIoDecode
continue
printf "port argument 0x%x\n", *(unsigned short *)($esp + 4)
info line *(*(unsigned int *)$esp)
list *(*(unsigned int *)$esp),*(*(unsigned int *)$esp)
delete
break *SerialPrint
continue
printf "format \"%s\"\n", (char *)$rcx
kill
GDB
timeout 120 gdb -batch -nx -x "$work/q35.gdb" -x "$work/test.gdb" >"$work/gdb.out" 2>&1
cat "$work/gdb.out"

status=0
expect() {
  if ! grep -q -- "$1" "$work/gdb.out"; then
    echo "FAIL: gdb did not show: $1"
    status=1
  fi
}
expect 'Breakpoint 1, SetIoDecode .* at BoardInitPei/IoDecode.cpp:199'
expect 'port argument 0x2e'
expect 'Line 14 of "BoardInitPei/BoardInitPeiEntry.cpp"'
expect 'SetIoDecode(Row.Port, Row.Size, Row.Attributes);'
expect 'Breakpoint 2, SerialPrint .* at BoardInitDxe/SerialPrint.cpp'
expect 'format "Zelk SetupInit Start'
exit $status
