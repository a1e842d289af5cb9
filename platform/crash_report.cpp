// Crash report handler, stack capture and the symboliser.
//
// The symboliser maps each registered module's ELF file and reads its full
// symbol table (so static functions are named too) and its DWARF line table
// (.debug_line, versions 2 to 5) for source lines. Modules that were never
// registered are still named through dladdr, with their exported symbols only.
// Everything is read with bounds checks: a damaged or foreign file gives no
// names, never a second crash.
#include "platform/crash_report.h"
#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "lib/check.h"

// ---------------------------------------------------------------------------
// Exception codes

struct ExceptionName {
  uint32_t code;
  const char* name;
};

static const ExceptionName exception_names[] = {
    {0x80000002, "misaligned data access"},
    {0xC0000005, "access violation"},
    {0xC0000006, "page is inaccessible"},
    {0xC0000008, "invalid handle"},
    {0xC000001D, "illegal opcode"},
    {0xC0000025, "attempt to continue after noncontinuable exception"},
    {0xC0000026, "invalid disposition"},
    {0xC000008C, "out of bounds access"},
    {0xC000008D, "*unknown type*"},
    {0xC000008E, "floating point /0"},
    {0xC0000090, "floating point error"},
    {0xC0000091, "floating point overflow"},
    {0xC0000092, "floating point stack over/underflow"},
    {0xC0000093, "floating point underflow"},
    {0xC0000094, "integer /0"},
    {0xC0000095, "integer overflow"},
    {0xC0000096, "priv instruction"},
    {0xC00000FD, "stack overflow"},
};

const char* exception_code_name(uint32_t code) {
  for (const ExceptionName& e : exception_names)
    if (e.code == code) return e.name;
  return nullptr;
}

uint32_t exception_code_for_signal(int sig, int si_code) {
  switch (sig) {
    case SIGSEGV:
      return 0xC0000005;
    case SIGBUS:
      return si_code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
    case SIGILL:
      return si_code == ILL_PRVOPC || si_code == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
    case SIGFPE:
      switch (si_code) {
        case FPE_INTDIV: return 0xC0000094;
        case FPE_INTOVF: return 0xC0000095;
        case FPE_FLTDIV: return 0xC000008E;
        case FPE_FLTOVF: return 0xC0000091;
        case FPE_FLTUND: return 0xC0000093;
        default: return 0xC0000090;
      }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Bounds-checked reading of ELF and DWARF data

struct Bytes {
  const uint8_t* p = nullptr;
  const uint8_t* end = nullptr;
  bool bad = false;

  size_t left() const { return bad ? 0 : (size_t)(end - p); }
  bool take(size_t n) {
    if (bad || (size_t)(end - p) < n) {
      bad = true;
      return false;
    }
    return true;
  }
  uint64_t fixed(int n) {
    if (!take((size_t)n)) return 0;
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v |= (uint64_t)p[i] << (8 * i);
    p += n;
    return v;
  }
  uint8_t u8() { return (uint8_t)fixed(1); }
  uint16_t u16() { return (uint16_t)fixed(2); }
  uint32_t u32() { return (uint32_t)fixed(4); }
  uint64_t uleb() {
    uint64_t v = 0;
    for (int shift = 0; take(1); shift += 7) {
      uint8_t b = *p++;
      if (shift < 64) v |= (uint64_t)(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
    return 0;
  }
  int64_t sleb() {
    int64_t v = 0;
    int shift = 0;
    for (; take(1); shift += 7) {
      uint8_t b = *p++;
      if (shift < 64) v |= (int64_t)(b & 0x7f) << shift;
      if (!(b & 0x80)) {
        if (shift + 7 < 64 && (b & 0x40)) v |= -((int64_t)1 << (shift + 7));
        return v;
      }
    }
    return 0;
  }
  const char* cstr() {
    const uint8_t* z = bad ? nullptr : (const uint8_t*)memchr(p, 0, (size_t)(end - p));
    if (!z) {
      bad = true;
      return "";
    }
    const char* s = (const char*)p;
    p = z + 1;
    return s;
  }
  void skip(uint64_t n) {
    if (n > left()) {
      bad = true;
      return;
    }
    p += n;
  }
};

struct Section {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// A zero-terminated string at offset off of a string section, or null.
static const char* section_string(Section s, uint64_t off) {
  if (!s.data || off >= s.size) return nullptr;
  if (!memchr(s.data + off, 0, s.size - off)) return nullptr;
  return (const char*)s.data + off;
}

// ---------------------------------------------------------------------------
// Registered modules

struct SymModule {
  bool used = false;
  char path[260] = {};
  uintptr_t base = 0;  // lowest mapped address
  uintptr_t size = 0;
  uintptr_t bias = 0;  // run-time address minus the file's link-time address
  const uint8_t* image = nullptr;
  size_t image_size = 0;
  Section symtab, strtab, debug_line, debug_line_str, debug_str;
};

static SymModule sym_modules[32];

static const char* file_name_part(const char* path) {
  const char* s = strrchr(path, '/');
  return s ? s + 1 : path;
}

// Maps the file and finds the sections the symboliser reads. False if the
// file is not a 64-bit ELF file of this machine or is damaged.
static bool map_elf(SymModule& m) {
  int fd = open(m.path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  void* mem = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size >= (off_t)sizeof(Elf64_Ehdr))
    mem = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (mem == MAP_FAILED) return false;
  m.image = (const uint8_t*)mem;
  m.image_size = (size_t)st.st_size;

  const Elf64_Ehdr* eh = (const Elf64_Ehdr*)m.image;
  bool ok = memcmp(eh->e_ident, ELFMAG, SELFMAG) == 0 && eh->e_ident[EI_CLASS] == ELFCLASS64 &&
            eh->e_shentsize == sizeof(Elf64_Shdr) && eh->e_shoff < m.image_size &&
            eh->e_shnum <= (m.image_size - eh->e_shoff) / sizeof(Elf64_Shdr) && eh->e_shstrndx < eh->e_shnum;
  if (!ok) return false;
  const Elf64_Shdr* sh = (const Elf64_Shdr*)(m.image + eh->e_shoff);
  auto section = [&](int i) {
    Section s;
    if (i <= 0 || i >= eh->e_shnum || sh[i].sh_type == SHT_NOBITS) return s;
    if (sh[i].sh_offset > m.image_size || sh[i].sh_size > m.image_size - sh[i].sh_offset) return s;
    if (sh[i].sh_flags & SHF_COMPRESSED) return s;
    s.data = m.image + sh[i].sh_offset;
    s.size = sh[i].sh_size;
    return s;
  };
  Section names = section(eh->e_shstrndx);
  int symtab = -1, dynsym = -1;
  for (int i = 1; i < eh->e_shnum; i++) {
    if (sh[i].sh_type == SHT_SYMTAB) symtab = i;
    if (sh[i].sh_type == SHT_DYNSYM) dynsym = i;
    const char* name = section_string(names, sh[i].sh_name);
    if (!name) continue;
    if (!strcmp(name, ".debug_line")) m.debug_line = section(i);
    if (!strcmp(name, ".debug_line_str")) m.debug_line_str = section(i);
    if (!strcmp(name, ".debug_str")) m.debug_str = section(i);
  }
  int use = symtab >= 0 ? symtab : dynsym;
  if (use >= 0 && sh[use].sh_entsize == sizeof(Elf64_Sym)) {
    m.symtab = section(use);
    m.strtab = section((int)sh[use].sh_link);
  }
  return true;
}

static void unmap_module(SymModule& m) {
  if (m.image) munmap((void*)m.image, m.image_size);
  m = SymModule();
}

struct FoundModule {
  char path[260];
  uintptr_t base, size, bias;
};

struct ModuleSearch {
  const char* want;  // full path or file name
  const char* exe;   // the executable's full path (it has an empty name in the list)
  FoundModule* out;
  bool found;
};

static int match_module(dl_phdr_info* info, size_t, void* data) {
  ModuleSearch* s = (ModuleSearch*)data;
  const char* name = info->dlpi_name && *info->dlpi_name ? info->dlpi_name : s->exe;
  if (!name || !*name) return 0;
  bool match = !strcasecmp(name, s->want) || !strcasecmp(file_name_part(name), s->want) ||
               !strcasecmp(file_name_part(name), file_name_part(s->want));
  if (!match) return 0;
  uintptr_t lo = UINTPTR_MAX, hi = 0;
  for (int i = 0; i < info->dlpi_phnum; i++) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    uintptr_t a = info->dlpi_addr + ph.p_vaddr;
    if (a < lo) lo = a;
    if (a + ph.p_memsz > hi) hi = a + ph.p_memsz;
  }
  if (lo >= hi) return 0;
  snprintf(s->out->path, sizeof(s->out->path), "%s", name);
  s->out->base = lo;
  s->out->size = hi - lo;
  s->out->bias = info->dlpi_addr;
  s->found = true;
  return 1;
}

static bool find_loaded_module(const char* path, FoundModule& out) {
  char exe[260];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  exe[n > 0 ? n : 0] = 0;
  ModuleSearch s = {path, exe, &out, false};
  dl_iterate_phdr(match_module, &s);
  return s.found;
}

// The lowest link-time address of the file's loaded segments.
static uintptr_t lowest_load_address(const SymModule& m) {
  const Elf64_Ehdr* eh = (const Elf64_Ehdr*)m.image;
  if (eh->e_phentsize != sizeof(Elf64_Phdr) || eh->e_phoff >= m.image_size ||
      eh->e_phnum > (m.image_size - eh->e_phoff) / sizeof(Elf64_Phdr))
    return 0;
  const Elf64_Phdr* ph = (const Elf64_Phdr*)(m.image + eh->e_phoff);
  uintptr_t lo = UINTPTR_MAX;
  for (int i = 0; i < eh->e_phnum; i++)
    if (ph[i].p_type == PT_LOAD && ph[i].p_vaddr < lo) lo = ph[i].p_vaddr;
  return lo == UINTPTR_MAX ? 0 : lo & ~(uintptr_t)0xfff;
}

bool symhlp_load(const char* path, uintptr_t base, uintptr_t size) {
  if (!path || !*path) return false;
  SymModule* slot = nullptr;
  for (SymModule& m : sym_modules)
    if (!m.used) {
      slot = &m;
      break;
    }
  if (!slot) return false;
  SymModule m;
  FoundModule f;
  if (base == 0) {
    if (!find_loaded_module(path, f)) return false;
    snprintf(m.path, sizeof(m.path), "%s", f.path);
    m.base = f.base;
    m.size = f.size;
    m.bias = f.bias;
  } else {
    snprintf(m.path, sizeof(m.path), "%s", path);
    m.base = base;
    m.size = size;
  }
  if (!map_elf(m)) {
    unmap_module(m);
    return false;
  }
  if (base != 0) m.bias = base - lowest_load_address(m);
  m.used = true;
  *slot = m;
  debug("symhlp_load: <%s> base=%08lX size=%08lX", path, (unsigned long)m.base, (unsigned long)m.size);
  return true;
}

bool symhlp_unload(const char* path, uintptr_t base) {
  if (!path) return false;
  for (SymModule& m : sym_modules) {
    if (!m.used) continue;
    bool match = base ? m.base == base
                      : !strcasecmp(m.path, path) || !strcasecmp(file_name_part(m.path), file_name_part(path));
    if (!match) continue;
    uintptr_t b = m.base;
    unmap_module(m);
    debug("symhlp_unload: <%s> base=%08lX", path, (unsigned long)b);
    return true;
  }
  return false;
}

void register_exe_symbols() {
  char exe[260];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  exe[n > 0 ? n : 0] = 0;
  if (!symhlp_load(exe, 0, 0)) debug("can't load sym for: %s", exe);
}

static const SymModule* registered_module_at(uintptr_t addr) {
  for (const SymModule& m : sym_modules)
    if (m.used && addr >= m.base && addr - m.base < m.size) return &m;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Symbols

struct SymbolInfo {
  const char* name = nullptr;  // mangled
  uintptr_t offset = 0, size = 0;
};

static bool lookup_symbol(const SymModule& m, uintptr_t addr, SymbolInfo& out) {
  if (!m.symtab.data || !m.strtab.data) return false;
  uintptr_t a = addr - m.bias;
  const Elf64_Sym* syms = (const Elf64_Sym*)m.symtab.data;
  size_t n = m.symtab.size / sizeof(Elf64_Sym);
  for (size_t i = 0; i < n; i++) {
    const Elf64_Sym& s = syms[i];
    int type = ELF64_ST_TYPE(s.st_info);
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || s.st_shndx == SHN_UNDEF) continue;
    if (a < s.st_value || a - s.st_value >= s.st_size) continue;
    const char* name = section_string(m.strtab, s.st_name);
    if (!name || !*name) continue;
    out.name = name;
    out.offset = a - s.st_value;
    out.size = s.st_size;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Source lines from .debug_line

struct SourceLine {
  char file[200] = {};
  int line = 0;
  uintptr_t displacement = 0;
};

struct LineHeader {
  int version = 0;
  int offset_size = 4;
  int min_inst = 1;
  bool default_is_stmt = true;
  int line_base = 0, line_range = 1, opcode_base = 1;
  const uint8_t* opcode_lengths = nullptr;
  Bytes dirs, files;  // where the directory and file tables start (v2-4: lists; v5: formatted)
  Bytes program;
};

// Reads one v5 entry attribute; path is set for string forms.
static bool read_form(Bytes& b, uint64_t form, const SymModule& m, int offset_size, const char** str,
                      uint64_t* num) {
  *str = nullptr;
  *num = 0;
  switch (form) {
    case 0x08: *str = b.cstr(); break;  // DW_FORM_string
    case 0x1f: *str = section_string(m.debug_line_str, b.fixed(offset_size)); break;  // line_strp
    case 0x0e: *str = section_string(m.debug_str, b.fixed(offset_size)); break;       // strp
    case 0x0f: *num = b.uleb(); break;                                               // udata
    case 0x0b: *num = b.fixed(1); break;
    case 0x05: *num = b.fixed(2); break;
    case 0x06: *num = b.fixed(4); break;
    case 0x07: *num = b.fixed(8); break;
    case 0x1e: b.skip(16); break;           // data16 (an MD5 sum)
    case 0x09: b.skip(b.uleb()); break;     // block
    default: return false;
  }
  return !b.bad;
}

// Finds entry index of a v5 table (directories or files): its path and directory index.
static bool v5_entry(Bytes b, const SymModule& m, int offset_size, uint64_t index, const char** path,
                     uint64_t* dir) {
  int nformats = b.u8();
  uint64_t formats[16][2];
  if (nformats > 16) return false;
  for (int i = 0; i < nformats; i++) {
    formats[i][0] = b.uleb();
    formats[i][1] = b.uleb();
  }
  uint64_t count = b.uleb();
  if (b.bad || index >= count) return false;
  for (uint64_t e = 0; e <= index; e++) {
    for (int i = 0; i < nformats; i++) {
      const char* s;
      uint64_t v;
      if (!read_form(b, formats[i][1], m, offset_size, &s, &v)) return false;
      if (e != index) continue;
      if (formats[i][0] == 1) *path = s;  // DW_LNCT_path
      if (formats[i][0] == 2) *dir = v;   // DW_LNCT_directory_index
    }
  }
  return *path != nullptr;
}

// Skips over a v5 table to what follows it.
static bool v5_skip_table(Bytes& b, const SymModule& m, int offset_size) {
  int nformats = b.u8();
  uint64_t forms[16];
  if (nformats > 16) return false;
  for (int i = 0; i < nformats; i++) {
    b.uleb();
    forms[i] = b.uleb();
  }
  uint64_t count = b.uleb();
  for (uint64_t e = 0; e < count && !b.bad; e++)
    for (int i = 0; i < nformats; i++) {
      const char* s;
      uint64_t v;
      if (!read_form(b, forms[i], m, offset_size, &s, &v)) return false;
    }
  return !b.bad;
}

static void resolve_file_name(const LineHeader& h, const SymModule& m, uint64_t file, SourceLine& out) {
  const char* name = nullptr;
  const char* dir = nullptr;
  uint64_t dir_index = 0;
  if (h.version >= 5) {
    if (!v5_entry(h.files, m, h.offset_size, file, &name, &dir_index)) return;
    v5_entry(h.dirs, m, h.offset_size, dir_index, &dir, &dir_index);
  } else {
    Bytes b = h.files;
    for (uint64_t i = 1; !b.bad; i++) {
      const char* n = b.cstr();
      if (!*n) return;
      uint64_t d = b.uleb();
      b.uleb();
      b.uleb();
      if (i == file) {
        name = n;
        dir_index = d;
        break;
      }
    }
    Bytes dirs = h.dirs;
    for (uint64_t i = 1; i <= dir_index && dir_index && !dirs.bad; i++) {
      const char* d = dirs.cstr();
      if (!*d) break;
      if (i == dir_index) dir = d;
    }
  }
  if (!name) return;
  if (dir && name[0] != '/')
    snprintf(out.file, sizeof(out.file), "%s/%s", dir, name);
  else
    snprintf(out.file, sizeof(out.file), "%s", name);
}

static bool read_line_header(Bytes& unit, const SymModule& m, LineHeader& h) {
  h.version = unit.u16();
  if (h.version < 2 || h.version > 5) return false;
  if (h.version >= 5) {
    if (unit.u8() != 8) return false;  // address size
    unit.u8();                         // segment selector size
  }
  uint64_t header_length = unit.fixed(h.offset_size);
  if (unit.bad || header_length > unit.left()) return false;
  h.program = unit;
  h.program.p = unit.p + header_length;
  h.min_inst = unit.u8();
  if (h.version >= 4) unit.u8();  // maximum operations per instruction
  h.default_is_stmt = unit.u8() != 0;
  h.line_base = (int8_t)unit.u8();
  h.line_range = unit.u8();
  h.opcode_base = unit.u8();
  if (unit.bad || h.line_range == 0 || h.opcode_base == 0) return false;
  h.opcode_lengths = unit.p;
  unit.skip((uint64_t)h.opcode_base - 1);
  h.dirs = unit;
  if (h.version >= 5) {
    if (!v5_skip_table(unit, m, h.offset_size)) return false;
  } else {
    while (!unit.bad && *unit.cstr()) {
    }
  }
  h.files = unit;
  return !unit.bad;
}

// Runs one unit's line program; true with out filled when a row covers addr.
static bool run_line_program(const LineHeader& h, const SymModule& m, uintptr_t addr, SourceLine& out) {
  Bytes b = h.program;
  uint64_t address = 0, file = 1, line = 1;
  bool have_prev = false;
  uint64_t prev_addr = 0, prev_file = 0, prev_line = 0;
  auto row = [&](bool end_sequence) {
    if (have_prev && prev_addr <= addr && addr < address) {
      out.line = (int)prev_line;
      out.displacement = addr - prev_addr;
      resolve_file_name(h, m, prev_file, out);
      return true;
    }
    have_prev = !end_sequence;
    prev_addr = address, prev_file = file, prev_line = line;
    return false;
  };
  while (b.left() > 0) {
    int op = b.u8();
    if (op >= h.opcode_base) {
      int adj = op - h.opcode_base;
      address += (uint64_t)(adj / h.line_range) * h.min_inst;
      line += h.line_base + adj % h.line_range;
      if (row(false)) return true;
      continue;
    }
    switch (op) {
      case 0: {
        uint64_t len = b.uleb();
        if (len == 0 || len > b.left()) return false;
        Bytes ext = b;
        ext.end = b.p + len;
        b.skip(len);
        int sub = ext.u8();
        if (sub == 1) {  // end_sequence
          if (row(true)) return true;
          address = 0, file = 1, line = 1;
        } else if (sub == 2) {  // set_address
          address = ext.fixed(8);
        }
        break;
      }
      case 1:
        if (row(false)) return true;
        break;
      case 2: address += b.uleb() * h.min_inst; break;
      case 3: line += b.sleb(); break;
      case 4: file = b.uleb(); break;
      case 5: b.uleb(); break;
      case 8: address += (uint64_t)((255 - h.opcode_base) / h.line_range) * h.min_inst; break;
      case 9: address += b.u16(); break;
      case 6: case 7: case 10: case 11: break;
      default:
        for (int i = 0; i < h.opcode_lengths[op - 1]; i++) b.uleb();
    }
    if (b.bad) return false;
  }
  return false;
}

static bool lookup_source_line(const SymModule& m, uintptr_t addr, SourceLine& out) {
  if (!m.debug_line.data) return false;
  uintptr_t a = addr - m.bias;
  Bytes all;
  all.p = m.debug_line.data;
  all.end = m.debug_line.data + m.debug_line.size;
  while (all.left() > 0) {
    LineHeader h;
    uint64_t len = all.u32();
    if (len == 0xffffffff) {
      len = all.fixed(8);
      h.offset_size = 8;
    }
    if (all.bad || len > all.left()) return false;
    Bytes unit = all;
    unit.end = all.p + len;
    all.skip(len);
    if (read_line_header(unit, m, h) && run_line_program(h, m, a, out)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Call stack text

struct TextOut {
  char* buf;
  int size, len;
  void add(const char* fmt, ...) QV_PRINTF(2, 3) {
    if (len >= size - 1) return;
    va_list a;
    va_start(a, fmt);
    int n = vsnprintf(buf + len, (size_t)(size - len), fmt, a);
    va_end(a);
    if (n > 0) len = len + n < size - 1 ? len + n : size - 1;
  }
};

static void format_frame(TextOut& t, void* frame, bool return_address) {
  uintptr_t addr = (uintptr_t)frame;
  // A return address points after the call; its line is the call's.
  uintptr_t look = return_address && addr > 0 ? addr - 1 : addr;
  t.add("  %p", frame);
  const SymModule* m = registered_module_at(look);
  Dl_info info = {};
  const ElfW(Sym)* dsym = nullptr;
  bool have_dl = dladdr1((void*)look, &info, (void**)&dsym, RTLD_DL_SYMENT) != 0;
  if (m)
    t.add(" %s!", file_name_part(m->path));
  else if (have_dl && info.dli_fname && *info.dli_fname)
    t.add(" %s!", file_name_part(info.dli_fname));

  SymbolInfo sym;
  bool found = m && lookup_symbol(*m, look, sym);
  if (!found && have_dl && info.dli_sname && dsym) {
    sym.name = info.dli_sname;
    sym.offset = look - (uintptr_t)info.dli_saddr;
    sym.size = dsym->st_size;
    found = true;
  }
  SourceLine src;
  bool have_line = m && lookup_source_line(*m, look, src);
  if (found) {
    int status = -1;
    char* plain = abi::__cxa_demangle(sym.name, nullptr, nullptr, &status);
    // The offset is shown from the address as captured.
    t.add(" %s  +%u/%u", status == 0 && plain ? plain : sym.name, (unsigned)(sym.offset + (addr - look)),
          (unsigned)sym.size);
    free(plain);
    if (have_line) {
      const char* f = src.file;
      while (*f == '.' || *f == '/' || *f == '\\') f++;
      t.add("\n      %s(%d)    +%d", f, src.line, (int)src.displacement);
    }
  } else if (have_line) {
    t.add("    File=%s\n in Line=%d,Col=%d", src.file, src.line, 0);
  } else {
    t.add(" --unknown--");
  }
  t.add("\n");
}

void format_call_stack(void* const* frames, int count, char* buf, int size) {
  if (size <= 0) return;
  buf[0] = 0;
  int n = 0;
  while (n < count && frames[n] != (void*)-1) n++;
  TextOut t = {buf, size, 0};
  t.add("Call stack (%d frames):\n", n);
  for (int i = 0; i < n; i++) format_frame(t, frames[i], i > 0);
}

static char call_stack_text[8192];

void debug_dump_stack(const char* label, int skip) {
  void* all[64];
  int got = backtrace(all, 64);
  // The stack proper begins at this function's caller; what lies before it
  // (this function, and with some runtimes their backtrace wrapper) is left out.
  void* caller = __builtin_return_address(0);
  int own = 1;
  for (int i = 0; i < got; i++)
    if (all[i] == caller) {
      own = i;
      break;
    }
  int from = own + skip < got ? own + skip : got;
  void* frames[32];
  int n = 0;
  for (int i = from; i < got && n < 32; i++) frames[n++] = all[i];
  // Every captured frame here is a return address, the first included.
  for (int i = n; i < 32; i++) frames[i] = (void*)-1;
  TextOut t = {call_stack_text, (int)sizeof(call_stack_text), 0};
  call_stack_text[0] = 0;
  t.add("Call stack (%d frames):\n", n);
  for (int i = 0; i < n; i++) format_frame(t, frames[i], true);
  if (label)
    debug("%s: %s", label, call_stack_text);
  else
    debug("%s", call_stack_text);
}

// ---------------------------------------------------------------------------
// The handler

static volatile sig_atomic_t reporting_crash = 0;
static uintptr_t main_stack_low = 0;  // lowest address the main thread's stack may reach

static bool looks_like_stack_overflow(uintptr_t fault, uintptr_t sp) {
  if (!main_stack_low) return false;
  bool near_sp = fault + 65536 >= sp && fault <= sp + 65536;
  bool near_limit = fault < main_stack_low + 65536 && fault + (1 << 20) >= main_stack_low;
  return near_sp && near_limit;
}

static void report_fault(int sig, siginfo_t* si, void* uctx) {
  if (reporting_crash) {
    // A fault inside the report or the shutdown after it: stop at once.
    static const char msg[] = "\nfault while reporting a crash\n";
    ssize_t r = write(2, msg, sizeof(msg) - 1);
    (void)r;
    _exit(100);
  }
  reporting_crash = 1;
  ucontext_t* uc = (ucontext_t*)uctx;
  const greg_t* g = uc->uc_mcontext.gregs;
  uintptr_t ip = (uintptr_t)g[REG_RIP], sp = (uintptr_t)g[REG_RSP];
  uint32_t code = exception_code_for_signal(sig, si->si_code);
  if (sig == SIGSEGV && looks_like_stack_overflow((uintptr_t)si->si_addr, sp)) code = 0xC00000FD;
  debug("exception %X", code);
  const char* name = exception_code_name(code);
  if (!name) {
    // Not a fault the report covers: let it take its normal course.
    signal(sig, SIG_DFL);
    reporting_crash = 0;
    return;
  }
  debug_("Exception %X at %016lX", code, (unsigned long)ip);
  debug_(": %s", name);
  if (code == 0xC0000005)
    debug_("  attempt to %s memory at %016lX", (g[REG_ERR] & 2) ? "write to" : "read",
           (unsigned long)(uintptr_t)si->si_addr);
  debug("%s", "");
  // Linux keeps CS, GS and FS packed in one word; SS, DS and ES are not saved
  // for 64-bit code and read as 0.
  uint64_t csgsfs = (uint64_t)g[REG_CSGSFS];
  unsigned cs = csgsfs & 0xffff, gs = (csgsfs >> 16) & 0xffff, fs = (csgsfs >> 32) & 0xffff;
  debug("  CS:%8X IP:%16lX SS:%8X SP:%16lX flags:%08X", cs, (unsigned long)ip, 0u, (unsigned long)sp,
        (unsigned)g[REG_EFL]);
  debug("  AX:%16lX BX:%16lX CX:%16lX DX:%16lX SI:%16lX DI:%16lX", (unsigned long)g[REG_RAX],
        (unsigned long)g[REG_RBX], (unsigned long)g[REG_RCX], (unsigned long)g[REG_RDX],
        (unsigned long)g[REG_RSI], (unsigned long)g[REG_RDI]);
  debug("  BP:%16lX DS:%8X ES:%8X FS:%8X GS:%8X", (unsigned long)g[REG_RBP], 0u, 0u, fs, gs);
  debug("  R8:%16lX R9:%16lX R10:%16lX R11:%16lX R12:%16lX R13:%16lX R14:%16lX R15:%16lX",
        (unsigned long)g[REG_R8], (unsigned long)g[REG_R9], (unsigned long)g[REG_R10],
        (unsigned long)g[REG_R11], (unsigned long)g[REG_R12], (unsigned long)g[REG_R13],
        (unsigned long)g[REG_R14], (unsigned long)g[REG_R15]);

  // The unwinder walks through this handler and the signal frame into the
  // faulting function; the stack proper starts at the faulting address.
  void* all[64];
  int got = backtrace(all, 64);
  int start = -1;
  for (int i = 0; i < got; i++)
    if ((uintptr_t)all[i] == ip) {
      start = i;
      break;
    }
  void* frames[32];
  int n = 0;
  frames[n++] = (void*)ip;
  for (int i = start >= 0 ? start + 1 : got; i < got && n < 32; i++) frames[n++] = all[i];
  for (int i = n; i < 32; i++) frames[i] = (void*)-1;
  format_call_stack(frames, 32, call_stack_text, sizeof(call_stack_text));
  debug("%s", call_stack_text);

  fatal("Oops! The game crashed. See log file for more info.");
}

void set_except_report_handler() {
  // An alternate stack lets the handler run when the fault is a stack overflow.
  static char alt_stack[256 * 1024];
  stack_t ss = {};
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof(alt_stack);
  sigaltstack(&ss, nullptr);

  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr;
    size_t size;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) main_stack_low = (uintptr_t)addr;
    pthread_attr_destroy(&attr);
  }

  // The first backtrace loads the unwinder; do it now rather than in a crash.
  void* warm[2];
  backtrace(warm, 2);

  struct sigaction sa = {};
  sa.sa_sigaction = report_fault;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  const int faults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
  for (int sig : faults) sigaction(sig, &sa, nullptr);
}
