#!/bin/sh
# Boots the boot program with the shipped module images on an emulated q35 machine with QEMU's
# device-access log on, then compares each module's accesses in the log with the host build's
# run of the module (q35-compare).
#
# Usage: RunQ35Leg.sh FIRMWARE_DIR Q35_COMPARE [KERNEL_ARGS [COMPARE_OPTION]]
#   FIRMWARE_DIR holds QemuBoot.elf, BoardInitPei.efi and BoardInitDxe.efi (the firmware preset's
#   build folder); KERNEL_ARGS is the boot's command line, which also names the DXE configuration;
#   COMPARE_OPTION is handed to q35-compare (--board-model).
# Exit status: q35-compare's (0 the accesses agree, 1 they differ, 2 bad log), 1 when the boot
# itself failed, 77 skipped: the emulator or the images are missing.
set -u

qemu=${QEMU_SYSTEM_X86_64:-qemu-system-x86_64}
run_timeout=${QEMU_BOOT_TIMEOUT:-60}
skip_status=77
status_all_passed=33

if [ $# -lt 2 ]; then
  echo "usage: $0 FIRMWARE_DIR Q35_COMPARE [KERNEL_ARGS [COMPARE_OPTION]]" >&2
  exit 1
fi
firmware=$1
compare=$2
kernel_args=${3:-}
compare_option=${4:-}

if ! command -v "$qemu" >/dev/null 2>&1; then
  echo "skipped: $qemu is not installed" \
    "(apt-get install -y --no-install-recommends qemu-system-x86)"
  exit $skip_status
fi
for file in QemuBoot.elf BoardInitPei.efi BoardInitDxe.efi; do
  if [ ! -f "$firmware/$file" ]; then
    echo "skipped: $firmware/$file is missing (build the firmware preset first)"
    exit $skip_status
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# memory_region_ops_* logs every access a device region takes; guest_errors adds a line for each
# access no region claims (the board's SPI and private-configuration windows are not on q35).
timeout "$run_timeout" "$qemu" -M q35 -accel tcg -nodefaults -no-reboot -display none \
  -serial "file:$work/serial" -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  -kernel "$firmware/QemuBoot.elf" \
  -initrd "$firmware/BoardInitPei.efi,$firmware/BoardInitDxe.efi" -append "$kernel_args" \
  -trace 'memory_region_ops_*' -d guest_errors -D "$work/access.log" \
  </dev/null >"$work/qemu.out" 2>&1
status=$?
if [ "$status" -ne "$status_all_passed" ]; then
  echo "the boot ended with exit status $status, not $status_all_passed (every check passed):"
  cat "$work/serial" "$work/qemu.out"
  exit 1
fi

config=plain
case " $kernel_args " in
*" timer-hob-smm "*) config=timer-hob-smm ;;
esac
echo "log: $(wc -l <"$work/access.log") lines"
# shellcheck disable=SC2086 # the option is one word or none
"$compare" --dxe-config "$config" $compare_option "$work/access.log"
