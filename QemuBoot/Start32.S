/*
 * Multiboot header, 32-bit start and the switch to long mode.
 *
 * The multiboot loader enters BootStart32 in flat 32-bit protected mode with paging and
 * interrupts off, EAX = loader magic, EBX = multiboot information; the GDT it used is not ours to
 * keep, so the first thing done is loading the boot program's own.
 */

        .set MultibootMagic, 0x1BADB002
        .set MultibootPageAlignModules, 1 << 0
        .set MultibootWantMemoryInfo, 1 << 1
        .set MultibootFlags, MultibootPageAlignModules | MultibootWantMemoryInfo

        .set Code32Selector, 0x08
        .set DataSelector, 0x10
        .set Code64Selector, 0x18

        .set Cr0MonitorCoprocessor, 1 << 1
        .set Cr0Emulation, 1 << 2
        .set Cr0Paging, 1 << 31
        .set Cr4Pae, 1 << 5
        .set Cr4OsFxsr, 1 << 9
        .set Cr4OsXmmExceptions, 1 << 10
        .set MsrEfer, 0xC0000080
        .set EferLongModeEnable, 1 << 8

        .set BootStackSize, 0x10000

        /* The loader looks for this in the first 8 KiB of the file. */
        .section .multiboot, "a"
        .balign 4
        .long MultibootMagic
        .long MultibootFlags
        .long -(MultibootMagic + MultibootFlags)

        /* Flat 4 GiB segments; the processor sets accessed bits here, so it lives in data. */
        .section .data.gdt, "aw"
        .balign 8
Gdt:
        .quad 0
        .quad 0x00CF9A000000FFFF /* 0x08: 32-bit code, base 0, limit 4 GiB */
        .quad 0x00CF92000000FFFF /* 0x10: data, base 0, limit 4 GiB */
        .quad 0x00AF9A000000FFFF /* 0x18: 64-bit code (L bit set) */
GdtEnd:
GdtDescriptor:
        .word GdtEnd - Gdt - 1
        .long Gdt

        .section .bss.stack, "aw", @nobits
        .balign 16
BootStack:
        .skip BootStackSize
BootStackTop:

        .section .text.start, "ax"
        .code32
        .globl BootStart32
BootStart32:
        cli
        cld
        lgdt GdtDescriptor
        ljmp $Code32Selector, $1f
1:      mov $DataSelector, %ecx
        mov %ecx, %ds
        mov %ecx, %es
        mov %ecx, %fs
        mov %ecx, %gs
        mov %ecx, %ss
        mov $BootStackTop, %esp
        /* Zero .bss (stack included: nothing is on it yet); EAX is needed as the fill value. */
        mov %eax, %edx
        mov $BssStart, %edi
        mov $BssEnd, %ecx
        sub %edi, %ecx
        xor %eax, %eax
        rep stosb
        push %ebx
        push %edx
        call Boot32Main
2:      jmp 2b

/*
 * EnterLongMode(PageMapRoot, Handoff): cdecl, does not return. Enables PAE and long mode with the
 * given identity map, enables SSE state (64-bit UEFI drivers may use it), and jumps to the 64-bit
 * part with the handoff pointer in EDI, the first argument register there.
 */
        .globl EnterLongMode
EnterLongMode:
        mov 8(%esp), %edi
        mov 4(%esp), %eax
        mov %eax, %cr3
        mov %cr4, %eax
        or $(Cr4Pae | Cr4OsFxsr | Cr4OsXmmExceptions), %eax
        mov %eax, %cr4
        mov $MsrEfer, %ecx
        rdmsr
        or $EferLongModeEnable, %eax
        wrmsr
        mov %cr0, %eax
        and $~Cr0Emulation, %eax
        or $(Cr0Paging | Cr0MonitorCoprocessor), %eax
        mov %eax, %cr0
        /* Now in compatibility mode; loading a 64-bit code segment completes the switch. */
        ljmp $Code64Selector, $LongModeEntry
