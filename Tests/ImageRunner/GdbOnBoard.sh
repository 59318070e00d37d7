#!/bin/sh
# Debugs the images on the simulated board with gdb in batch mode, through boardsim --gdb:
# - the early-init module on the board whose SPI status stays busy: a breakpoint in the bounded
#   wait, then reverse-stepi back into the read of the status register, whose value (0x10, busy)
#   shows both in the register it was read into and on the console, as the access it made; then
#   reverse-continue back to the breakpoint's stop at the read before, and on to the run's end;
# - the driver: 64-bit registers, a breakpoint at SerialPrint with the format text;
# - a boot of both: a connection for each phase, going back no further than the driver's start.
#
# Usage: GdbOnBoard.sh SOURCE_DIR BOARDSIM FIRMWARE_DIR
# Exit status: 0 pass, 1 fail, 77 skipped because gdb or the images are missing.
set -u
source_dir=$1
boardsim=$2
firmware=$3
skip_status=77
if ! command -v gdb >/dev/null 2>&1; then
  echo "skipped: gdb is not installed (Scripts/setup installs it)"
  exit $skip_status
fi
for file in BoardInitPei.efi BoardInitPei.debug.elf BoardInitDxe.efi BoardInitDxe.debug; do
  if [ ! -f "$firmware/$file" ]; then
    echo "skipped: $firmware/$file is missing (build the firmware first)"
    exit $skip_status
  fi
done

work=$(mktemp -d)
run=
trap 'kill "$run" 2>/dev/null; rm -rf "$work"' EXIT
status=0

# Waits until boardsim has told gdb's commands N times: its message ends with 'target remote'.
wait_for_lines() {
  for _ in $(seq 1 100); do
    [ "$(grep -c '^  target remote' "$work/run.err" 2>/dev/null)" -ge "$1" ] 2>/dev/null && break
    sleep 0.1
  done
}

# Starts boardsim with --gdb=0 (a free port) in the background and waits until it names the port
# and the gdb command that loads the symbols: PORT and SYMBOLS.
start() {
  # The last run's messages go first: the new run's shell truncates them only once it starts.
  rm -f "$work/run.out" "$work/run.err"
  "$boardsim" "$@" --gdb=0 >"$work/run.out" 2>"$work/run.err" &
  run=$!
  wait_for_lines 1
  port=$(sed -n 's/.*waits for gdb on 127\.0\.0\.1:\([0-9]*\);.*/\1/p' "$work/run.err")
  symbols=$(sed -n '2s/^  //p' "$work/run.err")
  if [ -z "$port" ] || [ -z "$symbols" ]; then
    echo "FAIL: boardsim did not wait for gdb:"
    cat "$work/run.err"
    exit 1
  fi
}

# A boot: waits until the driver's phase waits for gdb, which connects again for it.
driver_phase() {
  wait_for_lines 2
  symbols=$(sed -n "/driver's phase waits/{n;s/^  //p}" "$work/run.err")
  if [ -z "$symbols" ]; then
    echo "FAIL: the boot's driver phase did not wait for gdb:"
    cat "$work/run.err"
    exit 1
  fi
}

# Runs gdb in batch mode from the source tree with the commands on standard input; Keep (the
# first argument, when given) leaves boardsim running for a later phase.
debug() {
  {
    echo "set pagination off"
    echo "set confirm off"
    echo "directory $source_dir"
    echo "$symbols"
    echo "target remote 127.0.0.1:$port"
    cat
  } >"$work/test.gdb"
  (cd "$source_dir" && timeout 120 gdb -batch -nx -x "$work/test.gdb") >"$work/gdb.out" 2>&1
  cat "$work/gdb.out"
  if [ "${1:-}" != keep ]; then
    wait "$run"
    echo "boardsim exit status: $?" >>"$work/gdb.out"
    run=
  fi
}

expect() {
  if ! grep -a -q -- "$1" "$work/gdb.out"; then
    echo "FAIL: gdb did not show: $1"
    status=1
  fi
}

start pei --image "$firmware/BoardInitPei.efi" --scenario=spi-busy
debug <<'GDB'
info registers eip
break Library/SpiPeripheral/SpiPeripheral.cpp:27
continue
continue
x/i $pc
printf "after the read: eax 0x%x\n", $eax
reverse-stepi
printf "back in the read: eax 0x%x\n", $eax
reverse-stepi
x/i $pc
info line *$pc
printf "before the read: eax 0x%x\n", $eax
reverse-continue
delete
continue
GDB
expect 'eip  *0xfff00200 .*BoardInitPeiEntry'
expect 'Breakpoint 1, .*WaitStatusClear .* at Library/SpiPeripheral/SpiPeripheral.cpp:27'
expect 'test  *$0x10,%al'
expect 'RD32 0xFE032008 0x00000010  ; SPI status'
expect 'after the read: eax 0x10'
expect 'back in the read: eax 0x10'
expect 'this instruction made: RD32 0xFE032008 0x00000010  ; SPI status'
expect 'mov  *(%eax),%eax'
expect 'Line [0-9]* of "Library/HwAccess/X86/HwAccessX86.cpp"'
expect 'before the read: eax 0xfe032008'
expect 'exited normally'
expect 'boardsim exit status: 0'
# The third stop at the breakpoint is reverse-continue's: from the second read back to the first.
if [ "$(grep -a -c 'Breakpoint 1, ' "$work/gdb.out")" -lt 3 ]; then
  echo "FAIL: reverse-continue did not go back to the breakpoint"
  status=1
fi

start dxe --image "$firmware/BoardInitDxe.efi"
debug <<'GDB'
info registers rip rsp
break SerialPrint
continue
printf "format \"%s\"\n", Format
kill
GDB
expect 'rip  *0x401000 .*BoardInitDxeEntry'
expect 'rsp  *0x203fd8'
expect 'Breakpoint 1, SerialPrint .* at BoardInitDxe/SerialPrint.cpp'
expect 'format "Zelk SetupInit Start'
# gdb's kill lets the run go on to its end without it.
expect 'boardsim exit status: 0'

# A boot of both images: gdb follows the early module to its end, then connects again for the
# driver, in 64-bit mode, and goes back no further than the driver's first instruction.
start boot --pei-image "$firmware/BoardInitPei.efi" --dxe-image "$firmware/BoardInitDxe.efi"
debug keep <<'GDB'
info registers eip
continue
GDB
expect 'eip  *0xfff00200 .*BoardInitPeiEntry'
expect 'exited normally'
driver_phase
debug <<'GDB'
break SerialPrint
continue
reverse-continue
info registers rip
delete
continue
GDB
expect 'Breakpoint 1, SerialPrint .* at BoardInitDxe/SerialPrint.cpp'
expect 'No more reverse-execution history'
expect 'rip  *0x401000 .*BoardInitDxeEntry'
expect 'exited normally'
expect 'boardsim exit status: 0'
exit $status
