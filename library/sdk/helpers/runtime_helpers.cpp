// The runtime helpers clang's i686-pc-windows-msvc code generator calls:
// memory copies, the stack probe for frames of 4 KiB or more, the 64-bit
// division, multiplication and shift helpers, and __fltused. This object
// goes into section 0 of the first base file; tarnlib exports its symbols
// under "." names that routine objects bind to.
//
// Nothing here may call a helper itself: a reference from this object would
// bind to nothing (its own symbols are exported only after it is linked).

typedef unsigned int u32;
typedef unsigned long long u64;
typedef long long i64;

extern "C" {

int _fltused = 0x9875;

// Whole words first, then the last one to three bytes: a byte string
// instruction costs one step per byte where the processor (or an emulator)
// does not speed it up, and routines clear and copy windows of kilobytes.
void* memcpy(void* dst, const void* src, unsigned int n) {
  void* d = dst;
  __asm__ volatile(
      "cld\n\tmovl %%ecx, %%edx\n\tshrl $2, %%ecx\n\trep movsl\n\t"
      "movl %%edx, %%ecx\n\tandl $3, %%ecx\n\trep movsb"
      : "+D"(d), "+S"(src), "+c"(n)
      :
      : "edx", "memory");
  return dst;
}

void* memset(void* dst, int value, unsigned int n) {
  void* d = dst;
  u32 fill = (u32)(unsigned char)value * 0x01010101u;
  __asm__ volatile(
      "cld\n\tmovl %%ecx, %%edx\n\tshrl $2, %%ecx\n\trep stosl\n\t"
      "movl %%edx, %%ecx\n\tandl $3, %%ecx\n\trep stosb"
      : "+D"(d), "+c"(n)
      : "a"(fill)
      : "edx", "memory");
  return dst;
}

void* memmove(void* dst, const void* src, unsigned int n) {
  unsigned char* d = (unsigned char*)dst;
  const unsigned char* s = (const unsigned char*)src;
  if (d <= s || d >= s + n) return memcpy(dst, src, n);
  // Overlapping with the destination above: copy backwards.
  const unsigned char* se = s + n - 1;
  unsigned char* de = d + n - 1;
  __asm__ volatile("std\n\trep movsb\n\tcld" : "+D"(de), "+S"(se), "+c"(n) : : "memory");
  return dst;
}

int memcmp(const void* a, const void* b, unsigned int n) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (unsigned int i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

}  // extern "C"

// 64-bit unsigned division with 32-bit instructions only. A zero divisor
// raises the processor's divide error, as the helpers of the compiler's own
// runtime do.
static u64 UDivMod(u64 n, u64 d, u64* rem) {
  u32 dh = (u32)(d >> 32), dl = (u32)d;
  if (dh == 0) {
    u32 nh = (u32)(n >> 32), nl = (u32)n;
    u32 qh, ql, r;
    __asm__("divl %[d]" : "=a"(qh), "=d"(r) : "a"(nh), "d"(0u), [d] "rm"(dl));
    __asm__("divl %[d]" : "=a"(ql), "=d"(r) : "a"(nl), "d"(r), [d] "rm"(dl));
    *rem = r;
    return ((u64)qh << 32) | ql;
  }
  // Divisor of 2^32 or more: the quotient fits in 32 bits.
  u64 r = 0;
  u32 q = 0;
  for (int i = 63; i >= 0; --i) {
    r = (r << 1) | ((n >> i) & 1);
    q <<= 1;
    if (r >= d) {
      r -= d;
      q |= 1;
    }
  }
  *rem = r;
  return q;
}

static u64 Neg(u64 v) { return ~v + 1; }

extern "C" {

// MSVC's helpers take their operands on the stack and remove them (stdcall
// without a decorated name); results come back in edx:eax.
u64 __stdcall AullDiv(u64 a, u64 b) __asm__("__aulldiv");
u64 __stdcall AullRem(u64 a, u64 b) __asm__("__aullrem");
i64 __stdcall AllDiv(i64 a, i64 b) __asm__("__alldiv");
i64 __stdcall AllRem(i64 a, i64 b) __asm__("__allrem");
i64 __stdcall AllMul(i64 a, i64 b) __asm__("__allmul");

u64 __stdcall AullDiv(u64 a, u64 b) {
  u64 r;
  return UDivMod(a, b, &r);
}

u64 __stdcall AullRem(u64 a, u64 b) {
  u64 r;
  UDivMod(a, b, &r);
  return r;
}

i64 __stdcall AllDiv(i64 a, i64 b) {
  bool neg = (a < 0) != (b < 0);
  u64 r;
  u64 q = UDivMod(a < 0 ? Neg((u64)a) : (u64)a, b < 0 ? Neg((u64)b) : (u64)b, &r);
  return (i64)(neg ? Neg(q) : q);
}

i64 __stdcall AllRem(i64 a, i64 b) {
  u64 r;
  UDivMod(a < 0 ? Neg((u64)a) : (u64)a, b < 0 ? Neg((u64)b) : (u64)b, &r);
  return (i64)(a < 0 ? Neg(r) : r);
}

i64 __stdcall AllMul(i64 a, i64 b) {
  u32 al = (u32)a, ah = (u32)((u64)a >> 32), bl = (u32)b, bh = (u32)((u64)b >> 32);
  u32 lo, hi;
  __asm__("mull %[b]" : "=a"(lo), "=d"(hi) : "a"(al), [b] "rm"(bl));
  hi += al * bh + ah * bl;
  return (i64)(((u64)hi << 32) | lo);
}

}  // extern "C"

// Register helpers: value in edx:eax, count in cl, result in edx:eax.
// The stack probe: eax holds the frame size; every page from the caller's
// stack pointer down is touched in order (so a guard page faults before
// anything below it is written), then the stack pointer is lowered by eax.
__asm__(
    ".text\n"
    ".globl __allshl\n"
    "__allshl:\n"
    "  cmpb $64, %cl\n"
    "  jae 2f\n"
    "  cmpb $32, %cl\n"
    "  jae 1f\n"
    "  shldl %cl, %eax, %edx\n"
    "  shll %cl, %eax\n"
    "  ret\n"
    "1:\n"
    "  movl %eax, %edx\n"
    "  xorl %eax, %eax\n"
    "  andb $31, %cl\n"
    "  shll %cl, %edx\n"
    "  ret\n"
    "2:\n"
    "  xorl %eax, %eax\n"
    "  xorl %edx, %edx\n"
    "  ret\n"
    ".globl __aullshr\n"
    "__aullshr:\n"
    "  cmpb $64, %cl\n"
    "  jae 2f\n"
    "  cmpb $32, %cl\n"
    "  jae 1f\n"
    "  shrdl %cl, %edx, %eax\n"
    "  shrl %cl, %edx\n"
    "  ret\n"
    "1:\n"
    "  movl %edx, %eax\n"
    "  xorl %edx, %edx\n"
    "  andb $31, %cl\n"
    "  shrl %cl, %eax\n"
    "  ret\n"
    "2:\n"
    "  xorl %eax, %eax\n"
    "  xorl %edx, %edx\n"
    "  ret\n"
    ".globl __allshr\n"
    "__allshr:\n"
    "  cmpb $64, %cl\n"
    "  jae 2f\n"
    "  cmpb $32, %cl\n"
    "  jae 1f\n"
    "  shrdl %cl, %edx, %eax\n"
    "  sarl %cl, %edx\n"
    "  ret\n"
    "1:\n"
    "  movl %edx, %eax\n"
    "  sarl $31, %edx\n"
    "  andb $31, %cl\n"
    "  sarl %cl, %eax\n"
    "  ret\n"
    "2:\n"
    "  sarl $31, %edx\n"
    "  movl %edx, %eax\n"
    "  ret\n"
    ".globl __chkstk\n"
    "__chkstk:\n"
    "  pushl %ecx\n"
    "  leal 8(%esp), %ecx\n"
    "1:\n"
    "  cmpl $0x1000, %eax\n"
    "  jb 2f\n"
    "  subl $0x1000, %ecx\n"
    "  testl %eax, (%ecx)\n"
    "  subl $0x1000, %eax\n"
    "  jmp 1b\n"
    "2:\n"
    "  subl %eax, %ecx\n"
    "  testl %eax, (%ecx)\n"
    "  movl %esp, %eax\n"
    "  movl %ecx, %esp\n"
    "  movl (%eax), %ecx\n"
    "  movl 4(%eax), %eax\n"
    "  pushl %eax\n"
    "  ret\n"
    ".globl __alloca_probe\n"
    "__alloca_probe = __chkstk\n");
