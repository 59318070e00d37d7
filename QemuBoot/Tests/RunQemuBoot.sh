#!/bin/sh
# Boots the boot program with two modules on an emulated q35 machine, then compares the serial
# output with the expected bytes and the exit status with the expected verdict.
#
# Usage: RunQemuBoot.sh BOOT_ELF PEI_MODULE DXE_MODULE EXPECTED_SERIAL pass|fail [KERNEL_ARGS]
#   A module written as half:FILE is cut to the first half of FILE (a damaged module file).
#   EXPECTED_SERIAL holds the expected lines with plain line feeds; on the wire every line ends
#   in carriage return and line feed, so that is what the output is compared against.
# Exit status: 0 pass, 1 fail, 77 skipped because the emulator is not installed.
set -u

qemu=${QEMU_SYSTEM_X86_64:-qemu-system-x86_64}
run_timeout=${QEMU_BOOT_TIMEOUT:-60}
skip_status=77
# isa-debug-exit turns the value V written by the boot program into exit status (V << 1) | 1.
status_all_passed=33
status_check_failed=35
status_timed_out=124

if [ $# -lt 5 ]; then
  echo "usage: $0 BOOT_ELF PEI_MODULE DXE_MODULE EXPECTED_SERIAL pass|fail [KERNEL_ARGS]" >&2
  exit 1
fi
boot_elf=$1
pei=$2
dxe=$3
expected=$4
verdict=$5
kernel_args=${6:-}

if ! command -v "$qemu" >/dev/null 2>&1; then
  echo "skipped: $qemu is not installed" \
    "(apt-get install -y --no-install-recommends qemu-system-x86)"
  exit $skip_status
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the path of the module file to hand to the loader; half:FILE makes a cut copy.
prepare_module() {
  argument=$1
  name=$2
  file=${argument#half:}
  if [ ! -f "$file" ]; then
    echo "missing module file $file (build the firmware preset first)" >&2
    return 1
  fi
  if [ "$file" = "$argument" ]; then
    printf '%s\n' "$file"
    return 0
  fi
  size=$(wc -c <"$file")
  head -c $((size / 2)) "$file" >"$work/$name"
  printf '%s\n' "$work/$name"
}

for file in "$boot_elf" "$expected"; do
  if [ ! -f "$file" ]; then
    echo "missing $file" >&2
    exit 1
  fi
done
pei_file=$(prepare_module "$pei" pei.efi) || exit 1
dxe_file=$(prepare_module "$dxe" dxe.efi) || exit 1

timeout "$run_timeout" "$qemu" -M q35 -accel tcg -nodefaults -no-reboot -display none \
  -serial "file:$work/serial" -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  -kernel "$boot_elf" -initrd "$pei_file,$dxe_file" -append "$kernel_args" \
  </dev/null >"$work/qemu.log" 2>&1
status=$?
touch "$work/serial"

failed=0
sed 's/$/\r/' "$expected" >"$work/expected"
if ! cmp -s "$work/expected" "$work/serial"; then
  printf '%s\n' "serial output differs from $expected (carriage returns shown as \\r):"
  sed -n 'l 0' "$work/expected" >"$work/expected.visible"
  sed -n 'l 0' "$work/serial" >"$work/serial.visible"
  diff -u "$work/expected.visible" "$work/serial.visible"
  failed=1
fi

case $verdict in
pass) wanted=$status_all_passed ;;
fail) wanted=$status_check_failed ;;
*)
  echo "verdict must be pass or fail, not '$verdict'" >&2
  exit 1
  ;;
esac
if [ "$status" -ne "$wanted" ]; then
  case $status in
  "$status_all_passed") meaning="the boot program reported all checks passed" ;;
  "$status_check_failed") meaning="the boot program reported a failed check" ;;
  "$status_timed_out") meaning="no exit within ${run_timeout} s: the run hung" ;;
  0) meaning="the machine reset or triple-faulted" ;;
  *) meaning="the emulator failed" ;;
  esac
  echo "exit status $status, expected $wanted: $meaning"
  cat "$work/qemu.log"
  failed=1
fi
exit $failed
