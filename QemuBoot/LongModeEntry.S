/*
 * First instructions of the 64-bit part, linked at its fixed base. Arrives from EnterLongMode with
 * the handoff pointer in EDI; the upper halves of the registers are undefined after the mode
 * switch, so the 32-bit values are zero-extended before use.
 */
        .set DataSelector, 0x10

        .section .text.entry, "ax"
        .code64
        .globl LongModeEntry
LongModeEntry:
        mov $DataSelector, %eax
        mov %eax, %ds
        mov %eax, %es
        mov %eax, %ss
        movl %esp, %esp
        and $-16, %rsp
        movl %edi, %edi
        call Boot64Main
1:      jmp 1b
