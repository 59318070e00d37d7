// Real-hardware backend of the access primitives: x86 instructions, for the firmware images.
#include "HwAccess.h"

std::uint8_t PortRead8(std::uint16_t Port) {
  std::uint8_t Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

std::uint16_t PortRead16(std::uint16_t Port) {
  std::uint16_t Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

std::uint32_t PortRead32(std::uint16_t Port) {
  std::uint32_t Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

void PortWrite8(std::uint16_t Port, std::uint8_t Value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port));
}

void PortWrite16(std::uint16_t Port, std::uint16_t Value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port));
}

void PortWrite32(std::uint16_t Port, std::uint32_t Value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port));
}

// Volatile accesses of the exact width; the memory clobber keeps the compiler from moving other
// memory traffic across a register access.
std::uint16_t MmioRead16(PhysicalAddress Address) {
  std::uint16_t Value = *reinterpret_cast<volatile std::uint16_t *>(Address);
  __asm__ __volatile__("" ::: "memory");
  return Value;
}

std::uint32_t MmioRead32(PhysicalAddress Address) {
  std::uint32_t Value = *reinterpret_cast<volatile std::uint32_t *>(Address);
  __asm__ __volatile__("" ::: "memory");
  return Value;
}

void MmioWrite16(PhysicalAddress Address, std::uint16_t Value) {
  __asm__ __volatile__("" ::: "memory");
  *reinterpret_cast<volatile std::uint16_t *>(Address) = Value;
}

void MmioWrite32(PhysicalAddress Address, std::uint32_t Value) {
  __asm__ __volatile__("" ::: "memory");
  *reinterpret_cast<volatile std::uint32_t *>(Address) = Value;
}

std::uintptr_t ReadFlags() {
  std::uintptr_t Flags;
  __asm__ __volatile__("pushf\n\tpop %0" : "=r"(Flags) : : "memory");
  return Flags;
}

void DisableInterrupts() {
  __asm__ __volatile__("cli" ::: "memory");
}

void EnableInterrupts() {
  __asm__ __volatile__("sti" ::: "memory");
}

void CpuPause() {
  __asm__ __volatile__("pause" ::: "memory");
}

std::uint64_t ReadTimeStampCounter() {
  std::uint32_t Low;
  std::uint32_t High;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return (static_cast<std::uint64_t>(High) << 32) | Low;
}
