/* The linked 64-bit part as flat bytes, placed by the linker script at the address it was
   linked for. */
        .section .payload64, "ax"
        .incbin QEMU_BOOT_PAYLOAD64
