// Saving and loading compiled functions (sq_writeclosure / sq_readclosure).
//
// Layout (little endian): the 16-bit stream tag, a header ("SQVB", format
// version, sizes of char, integer and float), then the function tree, then
// "TAIL". A function is its name and source, counts and flags, code,
// literals, outer descriptors, local variable and line information, then its
// nested functions. Loading checks every count, index and register operand,
// so a damaged or crafted stream gives an error instead of a crash.
#include "sqopcodes.h"
#include "sqvm.h"
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x42565153;  // "SQVB"
constexpr uint32_t kTail = 0x4C494154;   // "TAIL"
constexpr uint32_t kVersion = 1;
constexpr uint32_t kMaxCount = 1u << 24;
constexpr int kMaxNesting = 200;

struct Writer {
  HSQUIRRELVM v;
  SQWRITEFUNC fn;
  SQUserPointer up;
  bool ok = true;
  void bytes(const void* p, size_t n) {
    if (ok && n && fn(up, (SQUserPointer)p, (SQInteger)n) != (SQInteger)n) ok = false;
  }
  void u32(uint32_t x) { bytes(&x, 4); }
  void u16(uint16_t x) { bytes(&x, 2); }
  void str(const SQString* s) {
    if (!s) {
      u32(0xFFFFFFFFu);
      return;
    }
    u32((uint32_t)s->len);
    bytes(s->val, (size_t)s->len);
  }
  bool object(const SQObject& o) {
    u32((uint32_t)o._type);
    switch (o._type) {
      case OT_NULL: return true;
      case OT_INTEGER:
      case OT_BOOL: u32((uint32_t)o._unVal.nInteger); return true;
      case OT_FLOAT: bytes(&o._unVal.fFloat, 4); return true;
      case OT_STRING: str(o._unVal.pString); return true;
      default:
        ok = false;
        vm_raise(v, "cannot serialize a %s", type_name(o._type));
        return false;
    }
  }
  void proto(const SQFunctionProto* p) {
    u32(0x544F5250);  // "PROT"
    str(p->name);
    str(p->source);
    u32(p->nparams);
    u32(p->ndefaults);
    u32(p->stacksize);
    u32((p->varparams ? 1u : 0u) | (p->generator ? 2u : 0u) | (p->debuginfo ? 4u : 0u));
    u32(p->ncode);
    bytes(p->code, sizeof(SQInstruction) * p->ncode);
    u32(p->nliterals);
    for (uint32_t i = 0; i < p->nliterals && ok; i++) object(p->literals[i]);
    u32(p->nouters);
    for (uint32_t i = 0; i < p->nouters; i++) {
      bytes(&p->outers[i].from_local, 1);
      bytes(&p->outers[i].index, 1);
      str(p->outers[i].name);
    }
    u32(p->nlocals);
    for (uint32_t i = 0; i < p->nlocals; i++) {
      str(p->locals[i].name);
      u32(p->locals[i].start_pc);
      u32(p->locals[i].end_pc);
      u32(p->locals[i].reg);
    }
    u32(p->nlines);
    for (uint32_t i = 0; i < p->nlines; i++) {
      u32(p->lines[i].pc);
      u32((uint32_t)p->lines[i].line);
    }
    u32(p->nfunctions);
    for (uint32_t i = 0; i < p->nfunctions && ok; i++) proto(p->functions[i]);
  }
};

struct Reader {
  HSQUIRRELVM v;
  SQREADFUNC fn;
  SQUserPointer up;
  std::string error;
  bool fail(const char* msg) {
    if (error.empty()) error = msg;
    return false;
  }
  bool bytes(void* p, size_t n) {
    if (!error.empty()) return false;
    if (n && fn(up, p, (SQInteger)n) != (SQInteger)n) return fail("unexpected end of the stream");
    return true;
  }
  bool u32(uint32_t& x) { return bytes(&x, 4); }
  bool count(uint32_t& n) {
    if (!u32(n)) return false;
    if (n > kMaxCount) return fail("invalid count in the stream");
    return true;
  }
  bool str(SQString*& out) {
    out = nullptr;
    uint32_t len;
    if (!u32(len)) return false;
    if (len == 0xFFFFFFFFu) return true;
    if (len > (1u << 28)) return fail("string too long in the stream");
    std::string s(len, '\0');
    if (!bytes(s.data(), len)) return false;
    out = str_new(v->ss, s.data(), (SQInteger)len);
    rc_addref(out);
    return true;
  }
  bool object(SQObject& o) {
    o = mk_null();
    uint32_t t;
    if (!u32(t)) return false;
    switch (t) {
      case OT_NULL: return true;
      case OT_INTEGER:
      case OT_BOOL: {
        uint32_t x;
        if (!u32(x)) return false;
        o = t == OT_BOOL ? mk_bool(x != 0) : mk_int((SQInteger)x);
        return true;
      }
      case OT_FLOAT: {
        SQFloat f;
        if (!bytes(&f, 4)) return false;
        o = mk_float(f);
        return true;
      }
      case OT_STRING: {
        SQString* s;
        if (!str(s) || !s) return fail("invalid string literal");
        o = mk_str(s);  // keeps the reference taken by str()
        return true;
      }
      default: return fail("invalid literal type in the stream");
    }
  }

  // Operand checks of one instruction.
  bool check_code(SQFunctionProto* p) {
    uint32_t ss = p->stacksize;
    auto reg = [&](uint32_t r) { return r < ss; };
    auto lit = [&](int32_t d) { return d >= 0 && (uint32_t)d < p->nliterals; };
    auto jump = [&](uint32_t pc, int32_t d) {
      int64_t t = (int64_t)pc + 1 + d;
      return t >= 0 && t < (int64_t)p->ncode;
    };
    if (p->ncode == 0 || p->code[p->ncode - 1].op != OP_RETURN) return fail("invalid function code");
    for (uint32_t pc = 0; pc < p->ncode; pc++) {
      const SQInstruction& i = p->code[pc];
      bool ok = true;
      switch (i.op) {
        case OP_LOADNULL: ok = (uint32_t)i.a + i.b <= ss; break;
        case OP_LOADK: ok = reg(i.a) && lit(i.d); break;
        case OP_LOADINT: case OP_LOADFLOAT: case OP_LOADBOOL: case OP_LOADROOT: case OP_GETBASE:
        case OP_NEWTABLE: case OP_NEWARRAY: case OP_THROW: case OP_CLOSE:
          ok = reg(i.a);
          break;
        case OP_MOVE: case OP_NEG: case OP_NOT: case OP_BNOT: case OP_TYPEOF: case OP_CLONE:
        case OP_RESUME: case OP_APPEND:
          ok = reg(i.a) && reg(i.b);
          break;
        case OP_ADDI: ok = reg(i.a) && reg(i.b); break;
        case OP_ADDK: case OP_SUBK: case OP_MULK: case OP_DIVK: case OP_MODK:
          ok = reg(i.a) && reg(i.b) && lit(i.d);
          break;
        case OP_CONCAT: ok = i.b >= 1 && i.b <= 100 && (uint32_t)i.a + i.b <= ss; break;
        case OP_JEQ: case OP_JNE: case OP_JLT: case OP_JLE: case OP_JGT: case OP_JGE:
          ok = reg(i.a) && reg(i.b) && jump(pc, i.d);
          break;
        case OP_JEQK: case OP_JNEK: case OP_JLTK: case OP_JLEK: case OP_JGTK: case OP_JGEK:
        case OP_JNEQK: case OP_JNNEK: case OP_JNLTK: case OP_JNLEK: case OP_JNGTK: case OP_JNGEK:
          ok = reg(i.a) && lit(i.b | (i.c << 8)) && jump(pc, i.d);
          break;
        case OP_GETOUTER: ok = reg(i.a) && i.b < p->nouters; break;
        case OP_SETOUTER: ok = i.a < p->nouters && reg(i.b); break;
        case OP_GET: case OP_SET: case OP_NEWSLOT: case OP_DELETE: case OP_ADD: case OP_SUB:
        case OP_MUL: case OP_DIV: case OP_MOD: case OP_BAND: case OP_BOR: case OP_BXOR: case OP_SHL:
        case OP_SHR: case OP_USHR: case OP_EQ: case OP_NE: case OP_LT: case OP_LE: case OP_GT:
        case OP_GE: case OP_CMP3: case OP_INSTANCEOF: case OP_IN:
          ok = reg(i.a) && reg(i.b) && reg(i.c);
          break;
        case OP_NEWSLOTA: ok = reg(i.a) && reg(i.b) && reg(i.c) && (!(i.d & 2) || reg(i.c + 1u)); break;
        case OP_GETK: ok = reg(i.a) && reg(i.b) && lit(i.d); break;
        case OP_GETTHISK: ok = reg(i.a) && lit(i.d); break;
        case OP_SETK: ok = reg(i.a) && reg(i.c) && lit(i.d); break;
        case OP_SETTHISK: ok = reg(i.c) && lit(i.d); break;
        case OP_JMP: ok = jump(pc, i.d); break;
        case OP_JZ: case OP_JNZ: case OP_PUSHTRAP: ok = reg(i.a) && jump(pc, i.d); break;
        case OP_JNEQ: case OP_JNNE: case OP_JNLT: case OP_JNLE: case OP_JNGT: case OP_JNGE:
          ok = reg(i.a) && reg(i.b) && jump(pc, i.d);
          break;
        case OP_CALL: case OP_TAILCALL:
          ok = (i.a == SQ_NO_REG || reg(i.a)) && i.c >= 1 && (uint32_t)i.b + i.c < ss;
          break;
        case OP_PREPCALL: ok = reg(i.a + 1u) && reg(i.b) && reg(i.c); break;
        case OP_PREPCALLK: ok = reg(i.a + 1u) && reg(i.b) && lit(i.d); break;
        case OP_PREPCALLTHISK: ok = reg(i.a + 1u) && lit(i.d); break;
        case OP_RETURN: case OP_YIELD: ok = !i.b || reg(i.a); break;
        case OP_CLOSURE:
          ok = reg(i.a) && i.d >= 0 && (uint32_t)i.d < p->nfunctions &&
               (uint32_t)i.b + p->functions[i.d]->ndefaults <= ss;
          break;
        case OP_CLASS:
          ok = reg(i.a) && (i.b == SQ_NO_REG || reg(i.b)) && (i.c == SQ_NO_REG || reg(i.c));
          break;
        case OP_PREFOREACH: case OP_FOREACH: ok = reg(i.a + 3u) && jump(pc, i.d); break;
        case OP_POPTRAP: break;
        default: ok = false; break;
      }
      if (!ok) return fail("invalid instruction in the stream");
    }
    return true;
  }

  SQFunctionProto* proto(int depth) {
    if (depth > kMaxNesting) {
      fail("functions nested too deeply");
      return nullptr;
    }
    uint32_t tag;
    if (!u32(tag)) return nullptr;
    if (tag != 0x544F5250) {
      fail("invalid function in the stream");
      return nullptr;
    }
    SQFunctionProto* p = proto_new(v->ss);
    rc_addref(p);
    if (!read_body(p, depth)) {
      rc_release(p);
      return nullptr;
    }
    return p;
  }
  bool read_body(SQFunctionProto* p, int depth) {
    uint32_t flags;
    if (!str(p->name) || !str(p->source) || !u32(p->nparams) || !u32(p->ndefaults) || !u32(p->stacksize) ||
        !u32(flags))
      return false;
    p->varparams = flags & 1;
    p->generator = (flags & 2) != 0;
    p->debuginfo = (flags & 4) != 0;
    p->fastargs = p->varparams || p->generator ? -1 : (int32_t)p->nparams;
    if (p->stacksize < 2 || p->stacksize > SQ_MAX_REGS + 1 || p->nparams < 1 ||
        p->nparams + (p->varparams ? 1 : 0) > p->stacksize || p->ndefaults >= p->nparams)
      return fail("invalid function header");
    uint32_t n;
    if (!count(n)) return false;
    p->code = (SQInstruction*)sq_alloc_obj(sizeof(SQInstruction) * (n ? n : 1));
    p->ncode = n;
    if (!bytes(p->code, sizeof(SQInstruction) * n)) return false;
    if (!count(n)) return false;
    p->literals = (SQObject*)sq_alloc_obj(sizeof(SQObject) * (n ? n : 1));
    for (uint32_t i = 0; i < n; i++) {
      if (!object(p->literals[i])) return false;
      p->nliterals = i + 1;
    }
    if (!count(n)) return false;
    if (n > 255) return fail("too many outer variables");
    p->outers = (SQOuterInfo*)sq_alloc_obj(sizeof(SQOuterInfo) * (n ? n : 1));
    for (uint32_t i = 0; i < n; i++) {
      if (!bytes(&p->outers[i].from_local, 1) || !bytes(&p->outers[i].index, 1) || !str(p->outers[i].name))
        return false;
      p->nouters = i + 1;
    }
    if (!count(n)) return false;
    p->locals = (SQLocalVarInfo*)sq_alloc_obj(sizeof(SQLocalVarInfo) * (n ? n : 1));
    for (uint32_t i = 0; i < n; i++) {
      SQLocalVarInfo& l = p->locals[i];
      if (!str(l.name)) return false;
      p->nlocals = i + 1;
      if (!u32(l.start_pc) || !u32(l.end_pc) || !u32(l.reg)) return false;
      if (l.reg >= p->stacksize) return fail("invalid local variable");
    }
    if (!count(n)) return false;
    p->lines = (SQLineInfo*)sq_alloc_obj(sizeof(SQLineInfo) * (n ? n : 1));
    p->nlines = n;
    for (uint32_t i = 0; i < n; i++) {
      uint32_t line;
      if (!u32(p->lines[i].pc) || !u32(line)) return false;
      p->lines[i].line = (int32_t)line;
    }
    if (!count(n)) return false;
    if (n > 65536) return fail("too many functions");
    p->functions = (SQFunctionProto**)sq_alloc_obj(sizeof(SQFunctionProto*) * (n ? n : 1));
    for (uint32_t i = 0; i < n; i++) {
      SQFunctionProto* f = proto(depth + 1);
      if (!f) return false;
      p->functions[i] = f;
      p->nfunctions = i + 1;
      for (uint32_t k = 0; k < f->nouters; k++) {
        const SQOuterInfo& oi = f->outers[k];
        if (oi.from_local ? oi.index >= p->stacksize : oi.index >= p->nouters)
          return fail("invalid outer variable");
      }
    }
    return check_code(p);
  }
};

}  // namespace

SQRESULT sq_writeclosure(HSQUIRRELVM v, SQWRITEFUNC writef, SQUserPointer up) {
  if (!writef) return sq_throwerror(v, "null write function");
  if (v->top - v->base < 1) return sq_throwerror(v, "no closure on the stack");
  SQObject& o = v->stack[v->top - 1];
  if (o._type != OT_CLOSURE) return sq_throwerror(v, "the object is not a closure");
  SQRef keep(o);
  Writer w{v, writef, up};
  w.u16(SQ_BYTECODE_STREAM_TAG);
  w.u32(kMagic);
  w.u32(kVersion);
  w.u32((uint32_t)sizeof(SQChar));
  w.u32((uint32_t)sizeof(SQInteger));
  w.u32((uint32_t)sizeof(SQFloat));
  w.proto(keep.o._unVal.pClosure->proto);
  w.u32(kTail);
  if (!w.ok) {
    if (v->lasterror._type == OT_NULL) vm_raise(v, "io error");
    return SQ_ERROR;
  }
  return SQ_OK;
}

SQRESULT sq_readclosure(HSQUIRRELVM v, SQREADFUNC readf, SQUserPointer up) {
  if (!readf) return sq_throwerror(v, "null read function");
  Reader r{v, readf, up};
  uint16_t tag = 0;
  uint32_t magic = 0, version = 0, csize = 0, isize = 0, fsize = 0;
  if (!r.bytes(&tag, 2) || tag != SQ_BYTECODE_STREAM_TAG) return sq_throwerror(v, "invalid stream");
  if (!r.u32(magic) || magic != kMagic || !r.u32(version) || version != kVersion)
    return sq_throwerror(v, "invalid stream header");
  if (!r.u32(csize) || !r.u32(isize) || !r.u32(fsize) || csize != sizeof(SQChar) ||
      isize != sizeof(SQInteger) || fsize != sizeof(SQFloat))
    return sq_throwerror(v, "the stream was written with different type sizes");
  SQFunctionProto* p = r.proto(0);
  uint32_t tail = 0;
  if (p && (!r.u32(tail) || tail != kTail)) r.fail("invalid stream tail");
  if (!p || !r.error.empty()) {
    if (p) rc_release(p);
    return sq_throwerror(v, r.error.c_str());
  }
  SQClosure* cl = closure_new(v->ss, p);
  rc_release(p);
  // A loaded top-level function has nothing to capture: its outers start closed and null.
  for (uint32_t i = 0; i < p->nouters; i++) {
    SQOuter* u = (SQOuter*)sq_alloc_obj(sizeof(SQOuter));
    gc_link(v->ss, u, K_OUTER);
    u->value = mk_null();
    u->valptr = &u->value;
    rc_addref(u);
    cl->outers[i] = u;
  }
  vm_push(v, mk_obj(OT_CLOSURE, cl));
  return SQ_OK;
}
