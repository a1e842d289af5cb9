// Single-pass compiler: a recursive descent parser that emits register code
// directly. Expressions are described by an Exp until they must be placed in
// a register, so constants, locals and indexed accesses produce no copies.
// Locals live in registers 0..nactive-1 (register 0 is 'this'); temporaries
// are allocated above them in stack order and released at statement end.
#include "sqcompiler.h"
#include "sqlexer.h"
#include "sqopcodes.h"
#include "sqvm.h"
#include <cstdarg>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kMaxDepth = 400;  // nesting of expressions, statements and functions

struct CompileFailure {};

enum ExpKind {
  E_VOID, E_NULL, E_TRUE, E_FALSE, E_INT, E_FLOAT, E_STR,
  E_REG,     // value in register r (a temporary when r >= nactive)
  E_OUTER,   // outer variable r
  E_FIELD,   // r[r2]
  E_FIELDK,  // r[literal lit]
  E_THISK,   // this[literal lit] with root fallback (an unresolved identifier)
  E_CMP,     // comparison op between registers r and r2, not yet materialised
  E_CONST,   // some other constant object (an enum table) in literal lit
};

struct Exp {
  ExpKind k = E_VOID;
  int r = -1, r2 = -1, lit = -1;
  SQInteger i = 0;
  SQFloat f = 0;
  int op = 0;
  int movepc = -1;   // a postfix ++/-- left a copy of the old value that may be dropped
  bool base = false; // an access through 'base': calls pass the current 'this'
  bool kr = false;    // E_CMP: r2 is a literal index, not a register
};

struct LocalVar {
  SQString* name;
  int reg;
  uint32_t startpc;
};

struct Breakable {
  bool is_switch;
  int nactive;
  int traps;
  std::vector<int> breaks;
  std::vector<int> continues;
};

struct Scope {
  int nactive;
  bool captured;
};

struct LitKey {
  uint32_t type;
  uint64_t raw;
  bool operator==(const LitKey& o) const { return type == o.type && raw == o.raw; }
};
struct LitKeyHash {
  size_t operator()(const LitKey& k) const { return (size_t)(k.raw * 31 + k.type); }
};

struct FuncState {
  FuncState* parent = nullptr;
  std::vector<SQInstruction> code;
  std::vector<SQObject> literals;
  std::unordered_map<LitKey, int, LitKeyHash> litmap;
  std::vector<SQFunctionProto*> functions;
  std::vector<SQOuterInfo> outers;
  std::vector<SQLocalVarInfo> localinfos;
  std::vector<SQLineInfo> lines;
  std::vector<LocalVar> actives;
  std::vector<Scope> scopes;
  std::vector<Breakable> breakables;
  int freereg = 0;
  int maxstack = 1;
  int last_target = -1;  // highest pc a jump goes to
  int traps = 0;
  int ndefaults = 0;
  bool varparams = false;
  bool generator = false;
  int nparams = 0;
  SQObject name = mk_null();

  ~FuncState() {
    for (SQObject& o : literals) obj_release(o);
    for (SQFunctionProto* p : functions) rc_release(p);
    for (SQOuterInfo& o : outers)
      if (o.name) rc_release(o.name);
    for (SQLocalVarInfo& l : localinfos)
      if (l.name) rc_release(l.name);
    for (LocalVar& l : actives)
      if (l.name) rc_release(l.name);
    obj_release(name);
  }
  int nactive() const { return (int)actives.size(); }
};

struct Compiler {
  SQVM* v;
  SQSharedState* ss;
  SQLexer lex;
  FuncState* fs = nullptr;
  SQCompileError& err;
  std::string sourcename;
  int depth = 0;
  int last_line = 1;  // line of the last consumed token

  std::vector<SQObject> pool;  // strings and objects kept alive until compilation ends

  Compiler(SQVM* vm, SQCompileError& e) : v(vm), ss(vm->ss), err(e) {}
  ~Compiler() {
    for (SQObject& o : pool) obj_release(o);
  }
  SQString* intern(const char* s, SQInteger len) {
    SQString* str = str_new(ss, s, len);
    rc_addref(str);
    pool.push_back(mk_str(str));
    return str;
  }
  void keep(const SQObject& o) {
    obj_addref(o);
    pool.push_back(o);
  }

  // ---- errors and tokens ----
  [[noreturn]] void error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(err.desc, sizeof(err.desc), fmt, ap);
    va_end(ap);
    err.line = lex.tok_line;
    err.column = lex.tok_col;
    throw CompileFailure();
  }
  void next() {
    last_line = lex.tok_line;
    lex.lex();
    if (!lex.error.empty()) {
      snprintf(err.desc, sizeof(err.desc), "%s", lex.error.c_str());
      err.line = lex.line;
      err.column = lex.col;
      throw CompileFailure();
    }
  }
  int tok() const { return lex.token; }
  void expect(int t) {
    if (lex.token != t) {
      char b1[4];
      if (t == TK_IDENTIFIER) error("expected 'IDENTIFIER'");
      error("expected '%s'", SQLexer::token_text(t, b1));
    }
    next();
  }
  SQString* expect_ident() {
    if (tok() != TK_IDENTIFIER && tok() != TK_CONSTRUCTOR) error("expected 'IDENTIFIER'");
    SQString* s = intern(lex.sval.data(), (SQInteger)lex.sval.size());
    next();
    return s;
  }
  bool end_of_statement() const {
    return lex.newline_before || tok() == TK_EOF || tok() == '}' || tok() == ';';
  }
  void optional_semicolon() {
    if (tok() == ';') {
      next();
      return;
    }
    if (!end_of_statement()) error("end of statement expected (; or lf)");
  }
  struct DepthGuard {
    Compiler& c;
    explicit DepthGuard(Compiler& cc) : c(cc) {
      if (++c.depth > kMaxDepth) c.error("nesting too deep");
    }
    ~DepthGuard() { c.depth--; }
  };

  // ---- code emission ----
  int emit(int op, int a = 0, int b = 0, int c = 0, int32_t d = 0) {
    SQInstruction i;
    i.op = (uint8_t)op;
    i.a = (uint8_t)a;
    i.b = (uint8_t)b;
    i.c = (uint8_t)c;
    i.d = d;
    int pc = (int)fs->code.size();
    if (fs->lines.empty() || fs->lines.back().line != last_line) {
      SQLineInfo li = {(uint32_t)pc, last_line};
      fs->lines.push_back(li);
    }
    fs->code.push_back(i);
    return pc;
  }
  int pc() const { return (int)fs->code.size(); }
  void patch(int at, int target) {
    if (at < 0) return;
    fs->code[at].d = target - (at + 1);
    if (target > fs->last_target) fs->last_target = target;
  }
  void patch_here(int at) { patch(at, pc()); }
  void patch_list(std::vector<int>& l, int target) {
    for (int j : l) patch(j, target);
  }

  int literal(const SQObject& o) {
    LitKey k = {(uint32_t)o._type, o._unVal.raw};
    auto it = fs->litmap.find(k);
    if (it != fs->litmap.end()) return it->second;
    int idx = (int)fs->literals.size();
    if (idx > 0x7FFFFFF) error("too many literals");
    obj_addref(o);
    fs->literals.push_back(o);
    fs->litmap.emplace(k, idx);
    return idx;
  }
  int str_literal(SQString* s) { return literal(mk_str(s)); }
  int str_literal(const std::string& s) { return str_literal(intern(s.data(), (SQInteger)s.size())); }

  // ---- registers ----
  int reserve(int n = 1) {
    int r = fs->freereg;
    fs->freereg += n;
    if (fs->freereg > SQ_MAX_REGS) error("too many local variables or temporaries");
    if (fs->freereg > fs->maxstack) fs->maxstack = fs->freereg;
    return r;
  }
  void set_freereg(int r) {
    fs->freereg = r;
    if (r > fs->maxstack) fs->maxstack = r;
  }
  void free_reg(int r) {
    if (r >= fs->nactive() && r == fs->freereg - 1) fs->freereg--;
  }
  void free_exp(const Exp& e) {
    switch (e.k) {
      case E_REG: free_reg(e.r); break;
      case E_CMP:
        if (e.kr) {
          free_reg(e.r);
          break;
        }
        [[fallthrough]];
      case E_FIELD:
        if (e.r2 > e.r) {
          free_reg(e.r2);
          free_reg(e.r);
        } else {
          free_reg(e.r);
          free_reg(e.r2);
        }
        break;
      case E_FIELDK: free_reg(e.r); break;
      default: break;
    }
  }

  bool is_const(const Exp& e) const { return e.k >= E_NULL && e.k <= E_STR; }
  bool is_numconst(const Exp& e) const { return e.k == E_INT || e.k == E_FLOAT; }

  // Emits e into register dst.
  void to_reg(Exp& e, int dst) {
    switch (e.k) {
      case E_VOID:
      case E_NULL: emit(OP_LOADNULL, dst, 1); break;
      case E_TRUE: emit(OP_LOADBOOL, dst, 1); break;
      case E_FALSE: emit(OP_LOADBOOL, dst, 0); break;
      case E_INT: emit(OP_LOADINT, dst, 0, 0, e.i); break;
      case E_FLOAT: {
        int32_t bits;
        memcpy(&bits, &e.f, 4);
        emit(OP_LOADFLOAT, dst, 0, 0, bits);
        break;
      }
      case E_STR:
      case E_CONST: emit(OP_LOADK, dst, 0, 0, e.lit); break;
      case E_REG:
        if (e.r != dst) emit(OP_MOVE, dst, e.r);
        break;
      case E_OUTER: emit(OP_GETOUTER, dst, e.r); break;
      case E_FIELD: emit(OP_GET, dst, e.r, e.r2); break;
      case E_FIELDK: emit(OP_GETK, dst, e.r, 0, e.lit); break;
      case E_THISK: emit(OP_GETTHISK, dst, 0, 0, e.lit); break;
      case E_CMP:
        if (e.kr) {
          // the literal goes to a scratch register above everything live
          int t = fs->freereg > (dst > e.r ? dst : e.r) ? fs->freereg : (dst > e.r ? dst : e.r) + 1;
          if (t + 1 > fs->maxstack) fs->maxstack = t + 1;
          if (t >= SQ_MAX_REGS) error("too many local variables or temporaries");
          emit(OP_LOADK, t, 0, 0, e.r2);
          emit(e.op, dst, e.r, t);
        } else {
          emit(e.op, dst, e.r, e.r2);
        }
        break;
    }
    e.k = E_REG;
    e.r = dst;
    e.base = false;
  }
  // Places e in a fresh temporary on top (reusing its own if it is there).
  int to_next(Exp& e) {
    free_exp(e);
    int dst = reserve();
    to_reg(e, dst);
    return dst;
  }
  int to_any(Exp& e) {
    if (e.k == E_REG) return e.r;
    return to_next(e);
  }
  // Evaluates e into dst, which is the first register the expression used;
  // everything above it is released.
  void to_fixed(Exp& e, int dst) {
    free_exp(e);
    to_reg(e, dst);
    set_freereg(dst + 1);
  }
  // Makes sure a pending access is read before other code runs.
  void discharge(Exp& e) {
    if (e.k == E_OUTER || e.k == E_FIELD || e.k == E_FIELDK || e.k == E_THISK || e.k == E_CMP) to_next(e);
  }

  // Emits a jump taken when e is false; returns its pc or -1 when e is always true.
  int jump_if_false(Exp& e) {
    switch (e.k) {
      case E_CMP: {
        free_exp(e);
        if (e.kr) return emit(OP_JNEQK + (e.op - OP_EQ), e.r, e.r2 & 255, e.r2 >> 8);
        return emit(OP_JNEQ + (e.op - OP_EQ), e.r, e.r2);
      }
      case E_NULL:
      case E_FALSE: return emit(OP_JMP);
      case E_TRUE: return -1;
      case E_INT: return e.i ? -1 : emit(OP_JMP);
      case E_FLOAT: return e.f != 0 ? -1 : emit(OP_JMP);
      case E_STR: return -1;
      default: {
        int r = to_any(e);
        free_exp(e);
        return emit(OP_JZ, r);
      }
    }
  }

  // Emits a jump taken when e is true; returns its pc or -1 when e is always false.
  int jump_if_true(Exp& e) {
    switch (e.k) {
      case E_CMP: {
        free_exp(e);
        if (e.kr) return emit(OP_JEQK + (e.op - OP_EQ), e.r, e.r2 & 255, e.r2 >> 8);
        return emit(OP_JEQ + (e.op - OP_EQ), e.r, e.r2);
      }
      case E_NULL:
      case E_FALSE: return -1;
      case E_TRUE: return emit(OP_JMP);
      case E_INT: return e.i ? emit(OP_JMP) : -1;
      case E_FLOAT: return e.f != 0 ? emit(OP_JMP) : -1;
      case E_STR: return emit(OP_JMP);
      default: {
        int r = to_any(e);
        free_exp(e);
        return emit(OP_JNZ, r);
      }
    }
  }

  // Code cut out to be placed later (loop conditions and increments go after the body).
  struct CodeSegment {
    std::vector<SQInstruction> code;
    std::vector<SQLineInfo> lines;
  };
  CodeSegment cut_code(int start) {
    CodeSegment seg;
    seg.code.assign(fs->code.begin() + start, fs->code.end());
    while (!fs->lines.empty() && (int)fs->lines.back().pc >= start) {
      seg.lines.insert(seg.lines.begin(), fs->lines.back());
      fs->lines.pop_back();
    }
    for (SQLineInfo& li : seg.lines) li.pc -= (uint32_t)start;
    fs->code.resize(start);
    return seg;
  }
  void paste_code(const CodeSegment& seg) {
    uint32_t at = (uint32_t)pc();
    for (SQLineInfo li : seg.lines) {
      li.pc += at;
      if (fs->lines.empty() || fs->lines.back().line != li.line) fs->lines.push_back(li);
    }
    for (const SQInstruction& i : seg.code) fs->code.push_back(i);
  }

  // ---- scopes and variables ----
  void open_scope() { fs->scopes.push_back(Scope{fs->nactive(), false}); }
  void close_scope() {
    Scope s = fs->scopes.back();
    fs->scopes.pop_back();
    if (s.captured) emit(OP_CLOSE, s.nactive);
    remove_locals(s.nactive);
    set_freereg(fs->nactive());
  }
  void remove_locals(int n) {
    while (fs->nactive() > n) {
      LocalVar lv = fs->actives.back();
      fs->actives.pop_back();
      SQLocalVarInfo info = {lv.name, lv.startpc, (uint32_t)pc(), (uint32_t)lv.reg};
      fs->localinfos.push_back(info);  // takes the reference of lv.name
    }
  }
  int add_local(SQString* name) {
    int reg = fs->nactive();
    if (reg >= SQ_MAX_REGS) error("too many local variables");
    rc_addref(name);
    fs->actives.push_back(LocalVar{name, reg, (uint32_t)pc()});
    if (fs->freereg < reg + 1) set_freereg(reg + 1);
    return reg;
  }
  int add_local(const char* name) { return add_local(intern(name, -1)); }

  static int find_local(FuncState* f, SQString* name) {
    for (int i = f->nactive() - 1; i >= 0; i--)
      if (f->actives[i].name == name) return i;
    return -1;
  }
  static void mark_captured(FuncState* f, int reg) {
    for (int i = (int)f->scopes.size() - 1; i >= 0; i--) {
      if (f->scopes[i].nactive <= reg) {
        f->scopes[i].captured = true;
        return;
      }
    }
  }
  // Index of the outer variable 'name' in f, creating it through the enclosing functions.
  int find_outer(FuncState* f, SQString* name) {
    for (size_t i = 0; i < f->outers.size(); i++)
      if (f->outers[i].name == name) return (int)i;
    FuncState* p = f->parent;
    if (!p) return -1;
    int idx;
    uint8_t from_local;
    int l = find_local(p, name);
    if (l >= 0) {
      mark_captured(p, l);
      idx = p->actives[l].reg;
      from_local = 1;
    } else {
      idx = find_outer(p, name);
      if (idx < 0) return -1;
      from_local = 0;
    }
    if (f->outers.size() >= 255) error("too many outer variables");
    rc_addref(name);
    SQOuterInfo oi = {from_local, (uint8_t)idx, 0, name};
    f->outers.push_back(oi);
    return (int)f->outers.size() - 1;
  }

  bool lookup_const(SQString* name, SQObject& out) {
    SQObject* slot = nullptr;
    if (v->ss->consttable._type == OT_TABLE) slot = table_findstr(v->ss->consttable._unVal.pTable, name);
    if (!slot) return false;
    out = *slot;
    return true;
  }
  Exp const_exp(const SQObject& o) {
    Exp e;
    switch (o._type) {
      case OT_INTEGER: e.k = E_INT; e.i = o._unVal.nInteger; break;
      case OT_FLOAT: e.k = E_FLOAT; e.f = o._unVal.fFloat; break;
      case OT_BOOL: e.k = o._unVal.nInteger ? E_TRUE : E_FALSE; break;
      case OT_NULL: e.k = E_NULL; break;
      case OT_STRING: e.k = E_STR; e.lit = literal(o); break;
      default: e.k = E_CONST; e.lit = literal(o); break;
    }
    return e;
  }

  Exp resolve(SQString* name) {
    Exp e;
    int l = find_local(fs, name);
    if (l >= 0) {
      e.k = E_REG;
      e.r = fs->actives[l].reg;
      return e;
    }
    int o = find_outer(fs, name);
    if (o >= 0) {
      e.k = E_OUTER;
      e.r = o;
      return e;
    }
    SQObject c;
    if (lookup_const(name, c)) {
      if (c._type == OT_TABLE && tok() == '.') {
        // enum member: folded at compile time
        next();
        SQString* m = expect_ident();
        SQObject* slot = table_findstr(c._unVal.pTable, m);
        if (!slot) error("invalid enum member '%s'", m->val);
        return const_exp(*slot);
      }
      return const_exp(c);
    }
    e.k = E_THISK;
    e.lit = str_literal(name);
    return e;
  }

  // ---- expressions ----
  Exp expression() {
    DepthGuard g(*this);
    Exp e = ternary();
    int t = tok();
    if (t == '=' || t == TK_NEWSLOT || t == TK_PLUSEQ || t == TK_MINUSEQ || t == TK_MULEQ ||
        t == TK_DIVEQ || t == TK_MODEQ) {
      next();
      return assignment(e, t);
    }
    return e;
  }

  // A comma-separated list of expressions, the value of the last one.
  Exp comma_expression() {
    Exp e = expression();
    while (tok() == ',') {
      next();
      discharge(e);
      free_exp(e);
      e = expression();
    }
    return e;
  }

  static int arith_op(int t) {
    switch (t) {
      case TK_PLUSEQ: return OP_ADD;
      case TK_MINUSEQ: return OP_SUB;
      case TK_MULEQ: return OP_MUL;
      case TK_DIVEQ: return OP_DIV;
      case TK_MODEQ: return OP_MOD;
    }
    return -1;
  }

  // Emits dst = a op rhs, using the immediate form for small integer constants.
  // The literal index of a constant operand usable by the K forms, or -1.
  int const_operand(const Exp& e, int limit) {
    int lit;
    if (e.k == E_INT) lit = literal(mk_int(e.i));
    else if (e.k == E_FLOAT) lit = literal(mk_float(e.f));
    else if (e.k == E_STR) lit = e.lit;
    else return -1;
    return lit < limit ? lit : -1;
  }
  static int k_form(int op) {
    return op == OP_ADD   ? OP_ADDK
           : op == OP_SUB ? OP_SUBK
           : op == OP_MUL ? OP_MULK
           : op == OP_DIV ? OP_DIVK
                          : OP_MODK;
  }

  void emit_arith(int op, int dst, int a, Exp& rhs) {
    if ((op == OP_ADD || op == OP_SUB) && rhs.k == E_INT && rhs.i > -0x40000000 && rhs.i < 0x40000000) {
      emit(OP_ADDI, dst, a, 0, op == OP_ADD ? rhs.i : -rhs.i);
      return;
    }
    int k = const_operand(rhs, 0x7FFFFFFF);
    if (k >= 0) {
      emit(k_form(op), dst, a, 0, k);
      return;
    }
    int r = to_any(rhs);
    emit(op, dst, a, r);
    free_exp(rhs);
  }

  Exp assignment(Exp lhs, int t) {
    if (lhs.k == E_REG && lhs.r < fs->nactive() && lhs.r == 0) error("cannot assign to 'this'");
    if (t == TK_NEWSLOT) {
      if (lhs.k == E_REG || lhs.k == E_OUTER) error("can't 'create' a local slot");
      if (lhs.k != E_FIELD && lhs.k != E_FIELDK && lhs.k != E_THISK) error("can't assign expression");
      int obj, key;
      if (lhs.k == E_FIELD) {
        obj = lhs.r;
        key = lhs.r2;
      } else if (lhs.k == E_FIELDK) {
        obj = lhs.r;
        key = reserve();
        emit(OP_LOADK, key, 0, 0, lhs.lit);
      } else {
        obj = 0;
        key = reserve();
        emit(OP_LOADK, key, 0, 0, lhs.lit);
      }
      Exp rhs = expression();
      int r = to_any(rhs);
      emit(OP_NEWSLOT, obj, key, r);
      Exp res;
      res.k = E_REG;
      res.r = r;
      return res;
    }
    int op = arith_op(t);
    switch (lhs.k) {
      case E_REG: {
        if (lhs.r >= fs->nactive()) error("can't assign expression");
        Exp rhs = expression();
        if (op < 0) {
          if (!retarget(rhs, lhs.r)) {
            free_exp(rhs);
            to_reg(rhs, lhs.r);
          }
        } else {
          emit_arith(op, lhs.r, lhs.r, rhs);
        }
        return lhs;
      }
      case E_OUTER: {
        Exp rhs = expression();
        int r;
        if (op < 0) {
          r = to_any(rhs);
        } else {
          r = reserve();
          emit(OP_GETOUTER, r, lhs.r);
          emit_arith(op, r, r, rhs);
        }
        emit(OP_SETOUTER, lhs.r, r);
        Exp res;
        res.k = E_REG;
        res.r = r;
        return res;
      }
      case E_FIELD:
      case E_FIELDK:
      case E_THISK: {
        Exp rhs;
        int r;
        if (op < 0) {
          rhs = expression();
          r = to_any(rhs);
        } else {
          r = reserve();
          Exp cur = lhs;
          to_reg(cur, r);
          rhs = expression();
          emit_arith(op, r, r, rhs);
        }
        emit_store(lhs, r);
        Exp res;
        res.k = E_REG;
        res.r = r;
        return res;
      }
      default: error("can't assign expression");
    }
  }
  // local = expression: when the value was just computed into a temporary by
  // the last instruction, that instruction writes the local instead.
  bool retarget(Exp& e, int dst) {
    if (e.k != E_REG || e.r < fs->nactive() || e.r != fs->freereg - 1 || pc() == 0) return false;
    if (fs->last_target >= pc()) return false;
    SQInstruction& last = fs->code.back();
    if (last.a != e.r) return false;
    switch (last.op) {
      case OP_LOADK: case OP_LOADINT: case OP_LOADFLOAT: case OP_LOADBOOL: case OP_LOADROOT: case OP_MOVE:
      case OP_GETOUTER: case OP_GET: case OP_GETK: case OP_GETTHISK: case OP_ADD: case OP_SUB: case OP_MUL:
      case OP_DIV: case OP_MOD: case OP_ADDI: case OP_ADDK: case OP_SUBK: case OP_MULK: case OP_DIVK:
      case OP_MODK: case OP_BAND: case OP_BOR: case OP_BXOR: case OP_SHL: case OP_SHR: case OP_USHR:
      case OP_NEG: case OP_NOT: case OP_BNOT: case OP_EQ: case OP_NE: case OP_LT: case OP_LE: case OP_GT:
      case OP_GE: case OP_CMP3: case OP_CALL: case OP_CLOSURE: case OP_DELETE: case OP_TYPEOF:
      case OP_CLONE: case OP_INSTANCEOF: case OP_IN:
        break;
      case OP_LOADNULL:
        if (last.b != 1) return false;
        break;
      default: return false;
    }
    last.a = (uint8_t)dst;
    free_reg(e.r);
    e.r = dst;
    return true;
  }

  void emit_store(const Exp& lhs, int r) {
    if (lhs.k == E_FIELD)
      emit(OP_SET, lhs.r, lhs.r2, r);
    else if (lhs.k == E_FIELDK)
      emit(OP_SETK, lhs.r, 0, r, lhs.lit);
    else
      emit(OP_SETTHISK, 0, 0, r, lhs.lit);
  }

  Exp ternary() {
    Exp c = logical_or();
    if (tok() != '?') return c;
    next();
    int jf = jump_if_false(c);
    int dst = reserve();
    Exp a = expression();
    to_fixed(a, dst);
    int jend = emit(OP_JMP);
    patch_here(jf);
    expect(':');
    Exp b = expression();
    to_fixed(b, dst);
    patch_here(jend);
    Exp r;
    r.k = E_REG;
    r.r = dst;
    return r;
  }

  // a || b, a && b: the result is the last operand evaluated.
  Exp logical_or() {
    Exp l = logical_and();
    while (tok() == TK_OR) {
      next();
      int dst = value_reg(l);
      int j = emit(OP_JNZ, dst);
      Exp r = logical_and();
      to_fixed(r, dst);
      patch_here(j);
      l.k = E_REG;
      l.r = dst;
    }
    return l;
  }
  // Register holding the value of l that the result of && / || may overwrite.
  int value_reg(Exp& l) {
    if (l.k == E_REG && l.r >= fs->nactive() && l.r == fs->freereg - 1) return l.r;
    free_exp(l);
    int dst = reserve();
    to_reg(l, dst);
    return dst;
  }
  Exp logical_and() {
    Exp l = bit_or();
    for (;;) {
      if (tok() == TK_AND) {
        next();
        int dst = value_reg(l);
        int j = emit(OP_JZ, dst);
        Exp r = bit_or();
        to_fixed(r, dst);
        patch_here(j);
        l.k = E_REG;
        l.r = dst;
      } else if (tok() == TK_IN || tok() == TK_INSTANCEOF) {
        int op = tok() == TK_IN ? OP_IN : OP_INSTANCEOF;
        next();
        l = binary(l, op, &Compiler::bit_or);
      } else {
        return l;
      }
    }
  }
  Exp bit_or() {
    Exp l = bit_xor();
    while (tok() == '|') {
      next();
      l = binary(l, OP_BOR, &Compiler::bit_xor);
    }
    return l;
  }
  Exp bit_xor() {
    Exp l = bit_and();
    while (tok() == '^') {
      next();
      l = binary(l, OP_BXOR, &Compiler::bit_and);
    }
    return l;
  }
  Exp bit_and() {
    Exp l = equality();
    while (tok() == '&') {
      next();
      l = binary(l, OP_BAND, &Compiler::equality);
    }
    return l;
  }
  Exp equality() {
    Exp l = relational();
    for (;;) {
      int op;
      switch (tok()) {
        case TK_EQ: op = OP_EQ; break;
        case TK_NE: op = OP_NE; break;
        case TK_CMP3: op = OP_CMP3; break;
        default: return l;
      }
      next();
      l = binary(l, op, &Compiler::relational);
    }
  }
  Exp relational() {
    Exp l = shift();
    for (;;) {
      int op;
      switch (tok()) {
        case '<': op = OP_LT; break;
        case '>': op = OP_GT; break;
        case TK_LE: op = OP_LE; break;
        case TK_GE: op = OP_GE; break;
        default: return l;
      }
      next();
      l = binary(l, op, &Compiler::shift);
    }
  }
  Exp shift() {
    Exp l = additive();
    for (;;) {
      int op;
      switch (tok()) {
        case TK_SHIFTL: op = OP_SHL; break;
        case TK_SHIFTR: op = OP_SHR; break;
        case TK_USHIFTR: op = OP_USHR; break;
        default: return l;
      }
      next();
      l = binary(l, op, &Compiler::additive);
    }
  }
  Exp additive() {
    Exp l = multiplicative();
    for (;;) {
      int op;
      switch (tok()) {
        case '+': op = OP_ADD; break;
        case '-': op = OP_SUB; break;
        default: return l;
      }
      next();
      if (op == OP_ADD && l.k == E_STR)
        l = concat_chain(l);
      else
        l = binary(l, op, &Compiler::multiplicative);
    }
  }
  // "literal" + a + b ...: every '+' of the chain joins text, so the operands
  // are gathered in consecutive registers and joined by one instruction.
  Exp concat_chain(Exp first) {
    int base = fs->freereg;
    to_fixed(first, base);
    int n = 1;
    for (;;) {
      Exp e = multiplicative();
      to_fixed(e, base + n);
      n++;
      if (tok() != '+' || n >= 100) break;
      next();
    }
    emit(OP_CONCAT, base, n);
    set_freereg(base + 1);
    Exp res;
    res.k = E_REG;
    res.r = base;
    return res;
  }
  Exp multiplicative() {
    Exp l = unary();
    for (;;) {
      int op;
      switch (tok()) {
        case '*': op = OP_MUL; break;
        case '/': op = OP_DIV; break;
        case '%': op = OP_MOD; break;
        default: return l;
      }
      next();
      l = binary(l, op, &Compiler::unary);
    }
  }

  bool fold(int op, const Exp& a, const Exp& b, Exp& out) {
    if (!is_numconst(a) || !is_numconst(b)) return false;
    if (a.k == E_INT && b.k == E_INT) {
      uint32_t x = (uint32_t)a.i, y = (uint32_t)b.i;
      out.k = E_INT;
      switch (op) {
        case OP_ADD: out.i = (SQInteger)(x + y); return true;
        case OP_SUB: out.i = (SQInteger)(x - y); return true;
        case OP_MUL: out.i = (SQInteger)(x * y); return true;
        case OP_BAND: out.i = (SQInteger)(x & y); return true;
        case OP_BOR: out.i = (SQInteger)(x | y); return true;
        case OP_BXOR: out.i = (SQInteger)(x ^ y); return true;
        case OP_SHL: out.i = (SQInteger)(x << (y & 31)); return true;
        default: return false;
      }
    }
    if (op != OP_ADD && op != OP_SUB && op != OP_MUL) return false;
    SQFloat x = a.k == E_INT ? (SQFloat)a.i : a.f, y = b.k == E_INT ? (SQFloat)b.i : b.f;
    out.k = E_FLOAT;
    out.f = op == OP_ADD ? x + y : op == OP_SUB ? x - y : x * y;
    return true;
  }

  Exp binary(Exp l, int op, Exp (Compiler::*operand)()) {
    bool lconst = is_const(l);
    if (!lconst) {
      to_any(l);
    }
    Exp r = (this->*operand)();
    Exp folded;
    if (fold(op, l, r, folded)) return folded;
    if (lconst) to_any(l);
    Exp res;
    if (op >= OP_EQ && op <= OP_GE) {
      int k = const_operand(r, 0x10000);
      if (k >= 0) {
        res.k = E_CMP;
        res.op = op;
        res.r = l.r;
        res.r2 = k;
        res.kr = true;
        return res;
      }
      int rr = to_any(r);
      res.k = E_CMP;
      res.op = op;
      res.r = l.r;
      res.r2 = rr;
      return res;
    }
    if (op == OP_ADD || op == OP_SUB) {
      if (r.k == E_INT && r.i > -0x40000000 && r.i < 0x40000000) {
        free_exp(l);
        int dst = reserve();
        emit(OP_ADDI, dst, l.r, 0, op == OP_ADD ? r.i : -r.i);
        res.k = E_REG;
        res.r = dst;
        return res;
      }
    }
    if (op == OP_ADD || op == OP_SUB || op == OP_MUL || op == OP_DIV || op == OP_MOD) {
      int k = const_operand(r, 0x7FFFFFFF);
      if (k >= 0) {
        free_exp(l);
        int dst = reserve();
        emit(k_form(op), dst, l.r, 0, k);
        res.k = E_REG;
        res.r = dst;
        return res;
      }
    }
    int rr = to_any(r);
    if (rr > l.r) {
      free_exp(r);
      free_exp(l);
    } else {
      free_exp(l);
      free_exp(r);
    }
    int dst = reserve();
    emit(op, dst, l.r, rr);
    res.k = E_REG;
    res.r = dst;
    return res;
  }

  Exp unary() {
    DepthGuard g(*this);
    int t = tok();
    switch (t) {
      case '-': {
        next();
        Exp e = unary();
        if (e.k == E_INT) {
          e.i = (SQInteger)(0u - (uint32_t)e.i);
          return e;
        }
        if (e.k == E_FLOAT) {
          e.f = -e.f;
          return e;
        }
        return unop(e, OP_NEG);
      }
      case '!': {
        next();
        Exp e = unary();
        return unop(e, OP_NOT);
      }
      case '~': {
        next();
        Exp e = unary();
        if (e.k == E_INT) {
          e.i = ~e.i;
          return e;
        }
        return unop(e, OP_BNOT);
      }
      case TK_TYPEOF: {
        next();
        Exp e = unary();
        return unop(e, OP_TYPEOF);
      }
      case TK_CLONE: {
        next();
        Exp e = unary();
        return unop(e, OP_CLONE);
      }
      case TK_RESUME: {
        next();
        Exp e = unary();
        return unop(e, OP_RESUME);
      }
      case TK_DELETE: {
        next();
        Exp e = unary();
        return delete_exp(e);
      }
      case TK_PLUSPLUS:
      case TK_MINUSMINUS: {
        next();
        Exp e = unary();
        return increment(e, t == TK_PLUSPLUS ? 1 : -1, false);
      }
    }
    return postfix();
  }
  Exp unop(Exp& e, int op) {
    int r = to_any(e);
    free_exp(e);
    int dst = reserve();
    emit(op, dst, r);
    Exp res;
    res.k = E_REG;
    res.r = dst;
    return res;
  }
  Exp delete_exp(Exp& e) {
    int obj, key;
    switch (e.k) {
      case E_FIELD: obj = e.r; key = e.r2; break;
      case E_FIELDK:
        obj = e.r;
        key = reserve();
        emit(OP_LOADK, key, 0, 0, e.lit);
        break;
      case E_THISK:
        obj = 0;
        key = reserve();
        emit(OP_LOADK, key, 0, 0, e.lit);
        break;
      case E_REG:
      case E_OUTER: error("cannot delete a local");
      default: error("can't delete an expression");
    }
    if (key > obj) {
      free_reg(key);
      free_reg(obj);
    } else {
      free_reg(obj);
      free_reg(key);
    }
    int dst = reserve();
    emit(OP_DELETE, dst, obj, key);
    Exp res;
    res.k = E_REG;
    res.r = dst;
    return res;
  }
  // ++e / --e (postfix: the old value is the result).
  Exp increment(Exp& e, int delta, bool post) {
    Exp res;
    res.k = E_REG;
    switch (e.k) {
      case E_REG: {
        if (e.r >= fs->nactive() || e.r == 0) error("can't '++' or '--' an expression");
        if (post) {
          int t = reserve();
          int mp = emit(OP_MOVE, t, e.r);
          emit(OP_ADDI, e.r, e.r, 0, delta);
          res.r = t;
          res.movepc = mp;
          return res;
        }
        emit(OP_ADDI, e.r, e.r, 0, delta);
        return e;
      }
      case E_OUTER: {
        int t = reserve();
        emit(OP_GETOUTER, t, e.r);
        if (post) {
          int t2 = reserve();
          emit(OP_ADDI, t2, t, 0, delta);
          emit(OP_SETOUTER, e.r, t2);
        } else {
          emit(OP_ADDI, t, t, 0, delta);
          emit(OP_SETOUTER, e.r, t);
        }
        res.r = t;
        return res;
      }
      case E_FIELD:
      case E_FIELDK:
      case E_THISK: {
        int t = reserve();
        Exp cur = e;
        to_reg(cur, t);
        if (post) {
          int t2 = reserve();
          emit(OP_ADDI, t2, t, 0, delta);
          emit_store(e, t2);
        } else {
          emit(OP_ADDI, t, t, 0, delta);
          emit_store(e, t);
        }
        res.r = t;
        return res;
      }
      default: error("can't '++' or '--' an expression");
    }
  }

  Exp primary() {
    Exp e;
    switch (tok()) {
      case TK_INTEGER:
        e.k = E_INT;
        e.i = lex.ival;
        next();
        return e;
      case TK_FLOAT:
        e.k = E_FLOAT;
        e.f = lex.fval;
        next();
        return e;
      case TK_STRING_LITERAL:
        e.k = E_STR;
        e.lit = str_literal(lex.sval);
        next();
        return e;
      case TK_NULL: next(); e.k = E_NULL; return e;
      case TK_TRUE: next(); e.k = E_TRUE; return e;
      case TK_FALSE: next(); e.k = E_FALSE; return e;
      case TK___LINE__:
        e.k = E_INT;
        e.i = lex.tok_line;
        next();
        return e;
      case TK___FILE__:
        e.k = E_STR;
        e.lit = str_literal(sourcename);
        next();
        return e;
      case TK_THIS:
        next();
        e.k = E_REG;
        e.r = 0;
        return e;
      case TK_IDENTIFIER: {
        SQString* name = intern(lex.sval.data(), (SQInteger)lex.sval.size());
        next();
        e = resolve(name);
        return e;
      }
      case TK_CONSTRUCTOR: {
        // 'constructor' used as a name (this.constructor, a call in a method)
        e.k = E_THISK;
        e.lit = str_literal(std::string("constructor"));
        next();
        return e;
      }
      case TK_DOUBLE_COLON: {
        next();
        int r = reserve();
        emit(OP_LOADROOT, r);
        SQString* name = expect_ident();
        e.k = E_FIELDK;
        e.r = r;
        e.lit = str_literal(name);
        return e;
      }
      case TK_BASE: {
        next();
        int r = reserve();
        emit(OP_GETBASE, r);
        e.k = E_REG;
        e.r = r;
        e.base = true;
        return e;
      }
      case '(': {
        next();
        e = comma_expression();
        expect(')');
        return e;
      }
      case '[': return array_literal();
      case '{': return table_literal();
      case TK_FUNCTION: {
        next();
        return function_literal(mk_null(), false);
      }
      case '@': {
        next();
        return function_literal(mk_null(), true);
      }
      case TK_CLASS: {
        next();
        int dst = class_body_expr();
        e.k = E_REG;
        e.r = dst;
        return e;
      }
      default: {
        char b[4];
        if (tok() == TK_EOF) error("unexpected end of script");
        error("expression expected, found '%s'", SQLexer::token_text(tok(), b));
      }
    }
  }

  Exp postfix() {
    Exp e = primary();
    for (;;) {
      switch (tok()) {
        case '.': {
          next();
          discharge_for_index(e);
          bool wasbase = e.base;
          SQString* name = expect_ident();
          int lit = str_literal(name);
          int obj = e.r;
          e = Exp();
          e.k = E_FIELDK;
          e.r = obj;
          e.lit = lit;
          e.base = wasbase;
          break;
        }
        case '[': {
          if (lex.newline_before) return e;  // an array literal on the next line starts a statement
          next();
          discharge_for_index(e);
          int obj = e.r;
          Exp k = comma_expression();
          expect(']');
          e = Exp();
          if (k.k == E_STR || k.k == E_INT) {
            if (k.k == E_INT) k.lit = literal(mk_int(k.i));
            e.k = E_FIELDK;
            e.r = obj;
            e.lit = k.lit;
          } else {
            int kr = to_any(k);
            e.k = E_FIELD;
            e.r = obj;
            e.r2 = kr;
          }
          break;
        }
        case '(': {
          next();
          e = call(e);
          break;
        }
        case TK_PLUSPLUS:
        case TK_MINUSMINUS: {
          if (lex.newline_before) return e;
          int delta = tok() == TK_PLUSPLUS ? 1 : -1;
          next();
          e = increment(e, delta, true);
          return e;
        }
        default: return e;
      }
    }
  }
  // The object of an indexing must be in a register.
  void discharge_for_index(Exp& e) {
    if (e.k != E_REG) {
      bool b = e.base;
      to_next(e);
      e.base = b;
    }
  }

  Exp call(Exp& fn) {
    int f;
    if (fn.k == E_FIELDK && !fn.base) {
      free_reg(fn.r);
      f = reserve(2);
      emit(OP_PREPCALLK, f, fn.r, 0, fn.lit);
    } else if (fn.k == E_FIELD && !fn.base) {
      if (fn.r2 > fn.r) {
        free_reg(fn.r2);
        free_reg(fn.r);
      } else {
        free_reg(fn.r);
        free_reg(fn.r2);
      }
      f = reserve(2);
      emit(OP_PREPCALL, f, fn.r, fn.r2);
    } else if (fn.k == E_THISK) {
      f = reserve(2);
      emit(OP_PREPCALLTHISK, f, 0, 0, fn.lit);
    } else {
      f = to_next(fn);
      int t = reserve();
      emit(OP_MOVE, t, 0);
    }
    int nargs = 1;
    while (tok() != ')') {
      Exp a = expression();
      to_fixed(a, f + 1 + nargs);
      nargs++;
      if (nargs > 200) error("too many arguments");
      if (tok() == ',') {
        next();
        if (tok() == ')') error("expression expected, found ')'");
      } else if (tok() != ')') {
        expect(')');
      }
    }
    next();
    emit(OP_CALL, f, f, nargs);
    set_freereg(f + 1);
    Exp res;
    res.k = E_REG;
    res.r = f;
    return res;
  }

  Exp array_literal() {
    next();  // [
    int dst = reserve();
    int at = emit(OP_NEWARRAY, dst, 0, 0, 0);
    int n = 0;
    while (tok() != ']') {
      Exp e = expression();
      int r = to_any(e);
      emit(OP_APPEND, dst, r);
      set_freereg(dst + 1);
      n++;
      if (tok() == ',') next();
    }
    next();
    fs->code[at].d = n;
    Exp res;
    res.k = E_REG;
    res.r = dst;
    return res;
  }

  Exp table_literal() {
    next();  // {
    int dst = reserve();
    int at = emit(OP_NEWTABLE, dst, 0, 0, 0);
    int n = 0;
    while (tok() != '}') {
      int key = reserve();
      if (tok() == TK_FUNCTION) {
        next();
        SQString* name = expect_ident();
        emit(OP_LOADK, key, 0, 0, str_literal(name));
        Exp f = function_literal(mk_str(name), false);
        int r = to_any(f);
        emit(OP_NEWSLOT, dst, key, r);
      } else {
        if (tok() == '[') {
          next();
          Exp k = comma_expression();
          expect(']');
          to_fixed(k, key);
          expect('=');
        } else if (tok() == TK_STRING_LITERAL) {
          emit(OP_LOADK, key, 0, 0, str_literal(lex.sval));
          next();
          expect(':');
        } else {
          SQString* name = expect_ident();
          emit(OP_LOADK, key, 0, 0, str_literal(name));
          expect('=');
        }
        Exp val = expression();
        int r = to_any(val);
        emit(OP_NEWSLOT, dst, key, r);
      }
      set_freereg(dst + 1);
      n++;
      if (tok() == ',') next();
    }
    next();
    fs->code[at].d = n;
    Exp res;
    res.k = E_REG;
    res.r = dst;
    return res;
  }

  // Parses a parameter list and body; leaves the closure in a register.
  Exp function_literal(SQObject name, bool lambda) {
    DepthGuard g(*this);
    expect('(');
    FuncState* parent = fs;
    FuncState child;
    child.parent = parent;
    obj_set(child.name, name);
    fs = &child;
    add_local("this");
    int firstdefault = -1;
    for (;;) {
      if (tok() == ')') break;
      if (tok() == TK_VARPARAMS) {
        next();
        child.varparams = true;
        if (tok() != ')') expect(')');
        break;
      }
      SQString* pname = expect_ident();
      add_local(pname);
      if (tok() == '=') {
        next();
        // default values are evaluated by the enclosing function
        fs = parent;
        int reg = reserve();
        if (firstdefault < 0) firstdefault = reg;
        Exp d = expression();
        to_fixed(d, reg);
        fs = &child;
        child.ndefaults++;
      } else if (child.ndefaults > 0) {
        error("expected '='");
      }
      if (tok() == ',') {
        next();
      } else if (tok() != ')') {
        expect(')');
      }
    }
    next();  // )
    child.nparams = child.nactive();
    if (child.varparams) add_local("vargv");
    child.freereg = child.nactive();
    if (child.freereg > child.maxstack) child.maxstack = child.freereg;
    if (lambda) {
      Exp body = expression();
      int r = to_any(body);
      emit(OP_RETURN, r, 1);
    } else {
      statement_block_body();
      emit(OP_RETURN, 0, 0);
    }
    SQFunctionProto* p = finish(child);
    fs = parent;
    int idx = (int)fs->functions.size();
    fs->functions.push_back(p);
    if (firstdefault >= 0) set_freereg(firstdefault);
    int dst = reserve();
    emit(OP_CLOSURE, dst, firstdefault >= 0 ? firstdefault : 0, 0, idx);
    Exp res;
    res.k = E_REG;
    res.r = dst;
    return res;
  }

  // The body of a function: '{' statements '}'.
  void statement_block_body() {
    if (tok() != '{') expect('{');
    next();
    open_scope();
    while (tok() != '}') {
      if (tok() == TK_EOF) expect('}');
      statement();
    }
    next();
    close_scope();
  }

  SQFunctionProto* finish(FuncState& f) {
    remove_locals(0);
    SQFunctionProto* p = proto_new(ss);
    rc_addref(p);
    auto copy = [](auto& vec, auto*& dst, uint32_t& n) {
      n = (uint32_t)vec.size();
      using T = std::remove_reference_t<decltype(vec[0])>;
      dst = (T*)sq_alloc_obj(sizeof(T) * (n ? n : 1));
      if (n) memcpy((void*)dst, vec.data(), sizeof(T) * n);
      vec.clear();
    };
    copy(f.code, p->code, p->ncode);
    copy(f.literals, p->literals, p->nliterals);
    copy(f.functions, p->functions, p->nfunctions);
    copy(f.outers, p->outers, p->nouters);
    copy(f.localinfos, p->locals, p->nlocals);
    copy(f.lines, p->lines, p->nlines);
    p->nparams = (uint32_t)f.nparams;
    p->ndefaults = (uint32_t)f.ndefaults;
    p->varparams = f.varparams;
    p->generator = f.generator;
    p->debuginfo = ss->debuginfo;
    p->fastargs = p->varparams || p->generator ? -1 : (int32_t)p->nparams;
    p->stacksize = (uint32_t)f.maxstack;
    if (f.name._type == OT_STRING) {
      p->name = f.name._unVal.pString;
      rc_addref(p->name);
    }
    p->source = intern(sourcename.data(), (SQInteger)sourcename.size());
    rc_addref(p->source);
    return p;
  }

  // class [extends base] [</ attributes />] { members }: leaves the class in a register.
  int class_body_expr() {
    int base = SQ_NO_REG, attrs = SQ_NO_REG;
    int first = fs->freereg;
    if (tok() == TK_EXTENDS) {
      next();
      base = fs->freereg;
      Exp b = expression();
      to_fixed(b, base);
    }
    if (tok() == TK_ATTR_OPEN) {
      next();
      attrs = reserve();
      attribute_table(attrs);
    }
    set_freereg(first);
    int dst = reserve();
    emit(OP_CLASS, dst, base, attrs);
    expect('{');
    while (tok() != '}') {
      int mattrs = -1;
      int key = reserve();
      int val = reserve();
      if (tok() == TK_ATTR_OPEN) {
        next();
        mattrs = reserve();
        attribute_table(mattrs);
      }
      bool isstatic = false;
      if (tok() == TK_STATIC) {
        isstatic = true;
        next();
      }
      if (tok() == TK_FUNCTION || tok() == TK_CONSTRUCTOR) {
        bool ctor = tok() == TK_CONSTRUCTOR;
        next();
        SQString* name = ctor ? intern("constructor", -1) : expect_ident();
        emit(OP_LOADK, key, 0, 0, str_literal(name));
        int save = fs->freereg;
        Exp f = function_literal(mk_str(name), false);
        to_fixed(f, val);
        set_freereg(save);
      } else {
        if (tok() == '[') {
          next();
          Exp k = comma_expression();
          expect(']');
          int save = fs->freereg;
          to_fixed(k, key);
          set_freereg(save);
        } else {
          SQString* name = expect_ident();
          emit(OP_LOADK, key, 0, 0, str_literal(name));
        }
        expect('=');
        int save = fs->freereg;
        Exp e = expression();
        to_fixed(e, val);
        set_freereg(save);
      }
      emit(OP_NEWSLOTA, dst, key, val, (isstatic ? 1 : 0) | (mattrs >= 0 ? 2 : 0));
      set_freereg(dst + 1);
      if (tok() == ';' || tok() == ',') next();
    }
    next();
    return dst;
  }
  // </ key = value, ... /> into register dst.
  void attribute_table(int dst) {
    emit(OP_NEWTABLE, dst, 0, 0, 0);
    while (tok() != TK_ATTR_CLOSE) {
      int key = reserve();
      SQString* name = expect_ident();
      emit(OP_LOADK, key, 0, 0, str_literal(name));
      int val = reserve();
      if (tok() == '=') {
        next();
        Exp e = expression();
        to_fixed(e, val);
      } else {
        emit(OP_LOADNULL, val, 1);
      }
      emit(OP_NEWSLOT, dst, key, val);
      set_freereg(dst + 1);
      if (tok() == ',') next();
      if (tok() == TK_EOF) expect(TK_ATTR_CLOSE);
    }
    next();
  }

  // ---- statements ----
  void statement() {
    DepthGuard g(*this);
    switch (tok()) {
      case ';': next(); break;
      case '{': {
        next();
        open_scope();
        while (tok() != '}') {
          if (tok() == TK_EOF) expect('}');
          statement();
        }
        next();
        close_scope();
        break;
      }
      case TK_IF: if_statement(); break;
      case TK_WHILE: while_statement(); break;
      case TK_DO: do_statement(); break;
      case TK_FOR: for_statement(); break;
      case TK_FOREACH: foreach_statement(); break;
      case TK_SWITCH: switch_statement(); break;
      case TK_LOCAL: local_statement(); break;
      case TK_RETURN:
      case TK_YIELD: return_statement(); break;
      case TK_BREAK: {
        next();
        Breakable* b = fs->breakables.empty() ? nullptr : &fs->breakables.back();
        if (!b) error("'break' has to be in a loop block");
        leave_to(*b);
        b->breaks.push_back(emit(OP_JMP));
        optional_semicolon();
        break;
      }
      case TK_CONTINUE: {
        next();
        Breakable* b = nullptr;
        for (int i = (int)fs->breakables.size() - 1; i >= 0; i--) {
          if (!fs->breakables[i].is_switch) {
            b = &fs->breakables[i];
            break;
          }
        }
        if (!b) error("'continue' has to be in a loop block");
        leave_to(*b);
        b->continues.push_back(emit(OP_JMP));
        optional_semicolon();
        break;
      }
      case TK_FUNCTION: function_statement(); break;
      case TK_CLASS: class_statement(); break;
      case TK_ENUM: enum_statement(); break;
      case TK_CONST: const_statement(); break;
      case TK_TRY: try_statement(); break;
      case TK_THROW: {
        next();
        Exp e = comma_expression();
        int r = to_any(e);
        emit(OP_THROW, r);
        optional_semicolon();
        break;
      }
      default: {
        int start = pc();
        Exp e = comma_expression();
        // a lone postfix ++/-- needs no copy of the old value
        if (e.movepc >= 0 && e.movepc == pc() - 2 && e.movepc >= start) {
          fs->code.erase(fs->code.begin() + e.movepc);
          for (SQLineInfo& li : fs->lines)
            if ((int)li.pc > e.movepc) li.pc--;
        } else {
          discharge(e);
        }
        optional_semicolon();
        break;
      }
    }
    set_freereg(fs->nactive());
  }

  // Before jumping out of a loop or switch: drop traps and close captured locals.
  void leave_to(const Breakable& b) {
    if (fs->traps > b.traps) emit(OP_POPTRAP, 0, fs->traps - b.traps);
    if (fs->nactive() > b.nactive) emit(OP_CLOSE, b.nactive);
  }

  // A sub-statement gets its own scope (so 'if (x) local y = 1;' is contained).
  void scoped_statement() {
    open_scope();
    statement();
    close_scope();
  }

  Exp condition() {
    expect('(');
    Exp c = comma_expression();
    expect(')');
    return c;
  }

  void if_statement() {
    next();
    Exp c = condition();
    int jf = jump_if_false(c);
    set_freereg(fs->nactive());
    scoped_statement();
    if (tok() == TK_ELSE) {
      next();
      int jend = emit(OP_JMP);
      patch_here(jf);
      scoped_statement();
      patch_here(jend);
    } else {
      patch_here(jf);
    }
  }

  void begin_loop(bool is_switch) {
    Breakable b;
    b.is_switch = is_switch;
    b.nactive = fs->nactive();
    b.traps = fs->traps;
    fs->breakables.push_back(std::move(b));
  }
  void end_loop(int continue_target, int break_target) {
    Breakable b = std::move(fs->breakables.back());
    fs->breakables.pop_back();
    patch_list(b.breaks, break_target);
    if (b.is_switch) {
      // 'continue' inside a switch belongs to the enclosing loop
      if (!b.continues.empty()) {
        for (int i = (int)fs->breakables.size() - 1; i >= 0; i--) {
          if (!fs->breakables[i].is_switch) {
            for (int j : b.continues) fs->breakables[i].continues.push_back(j);
            break;
          }
        }
      }
    } else {
      patch_list(b.continues, continue_target);
    }
  }

  // Loops test their condition at the bottom: entry jumps to the test, which
  // jumps back to the body while the condition holds.
  void while_statement() {
    next();
    int entry = emit(OP_JMP);
    int cond_start = pc();
    Exp c = condition();
    CodeSegment cond = cut_code(cond_start);
    set_freereg(fs->nactive());
    int body = pc();
    begin_loop(false);
    scoped_statement();
    int cont = pc();
    patch(entry, cont);
    paste_code(cond);
    patch(jump_if_true(c), body);
    set_freereg(fs->nactive());
    end_loop(cont, pc());
  }

  void emit_jump_back(int target) {
    int j = emit(OP_JMP);
    patch(j, target);
  }

  void do_statement() {
    next();
    int start = pc();
    begin_loop(false);
    scoped_statement();
    expect(TK_WHILE);
    int cont = pc();
    Exp c = condition();
    patch(jump_if_true(c), start);
    set_freereg(fs->nactive());
    end_loop(cont, pc());
  }

  void for_statement() {
    next();
    open_scope();
    expect('(');
    if (tok() == TK_LOCAL) {
      local_statement_body();
    } else if (tok() != ';') {
      Exp e = comma_expression();
      discharge(e);
      set_freereg(fs->nactive());
    }
    expect(';');
    int entry = emit(OP_JMP);
    int cond_start = pc();
    bool has_cond = tok() != ';';
    Exp c;
    if (has_cond) c = comma_expression();
    CodeSegment cond = cut_code(cond_start);
    set_freereg(fs->nactive());
    expect(';');
    int incr_start = pc();
    if (tok() != ')') {
      Exp e = comma_expression();
      // a lone postfix ++/-- needs no copy of the old value
      if (e.movepc >= 0 && e.movepc == pc() - 2) {
        fs->code.erase(fs->code.begin() + e.movepc);
        for (SQLineInfo& li : fs->lines)
          if ((int)li.pc > e.movepc) li.pc--;
      } else {
        discharge(e);
      }
      set_freereg(fs->nactive());
    }
    expect(')');
    CodeSegment incr = cut_code(incr_start);
    int body = pc();
    begin_loop(false);
    scoped_statement();
    int cont = pc();
    paste_code(incr);
    patch(entry, pc());
    paste_code(cond);
    if (has_cond)
      patch(jump_if_true(c), body);
    else
      patch(emit(OP_JMP), body);
    set_freereg(fs->nactive());
    end_loop(cont, pc());
    close_scope();
  }

  void foreach_statement() {
    next();
    expect('(');
    SQString* first = expect_ident();
    SQString* keyname = nullptr;
    SQString* valname = first;
    if (tok() == ',') {
      next();
      keyname = first;
      valname = expect_ident();
    }
    expect(TK_IN);
    open_scope();
    Exp c = comma_expression();
    expect(')');
    int base = fs->nactive();
    to_fixed(c, base);
    add_local("@container");
    add_local("@iterator");
    add_local(keyname ? keyname : intern("@index", -1));
    add_local(valname);
    int pre = emit(OP_PREFOREACH, base);
    int start = emit(OP_FOREACH, base);
    begin_loop(false);
    size_t scope_index = fs->scopes.size() - 1;
    scoped_statement();
    int cont = pc();
    if (fs->scopes[scope_index].captured) emit(OP_CLOSE, base + 2);
    emit_jump_back(start);
    patch_here(pre);
    patch_here(start);
    end_loop(cont, pc());
    close_scope();
  }

  void switch_statement() {
    next();
    expect('(');
    open_scope();
    Exp e = comma_expression();
    expect(')');
    int sreg = fs->nactive();
    to_fixed(e, sreg);
    add_local("@switch");
    expect('{');
    begin_loop(true);
    int next_test = -1;
    std::vector<int> fallthrough;
    while (tok() == TK_CASE) {
      next();
      patch_here(next_test);
      Exp v = expression();
      expect(':');
      int r = to_any(v);
      Exp cmp;
      cmp.k = E_CMP;
      cmp.op = OP_EQ;
      cmp.r = sreg;
      cmp.r2 = r;
      next_test = jump_if_false(cmp);
      set_freereg(fs->nactive());
      patch_list(fallthrough, pc());
      fallthrough.clear();
      open_scope();
      while (tok() != TK_CASE && tok() != TK_DEFAULT && tok() != '}') {
        if (tok() == TK_EOF) expect('}');
        statement();
      }
      close_scope();
      fallthrough.push_back(emit(OP_JMP));
    }
    patch_here(next_test);
    patch_list(fallthrough, pc());
    if (tok() == TK_DEFAULT) {
      next();
      expect(':');
      open_scope();
      while (tok() != '}') {
        if (tok() == TK_EOF) expect('}');
        statement();
      }
      close_scope();
    }
    expect('}');
    end_loop(-1, pc());
    close_scope();
  }

  void local_statement() {
    local_statement_body();
    optional_semicolon();
  }
  void local_statement_body() {
    next();  // local
    if (tok() == TK_FUNCTION) {
      next();
      SQString* name = expect_ident();
      int reg = add_local(name);
      Exp f = function_literal(mk_str(name), false);
      to_fixed(f, reg);
      return;
    }
    if (tok() == TK_CLASS) {
      next();
      SQString* name = expect_ident();
        int reg = fs->nactive();
      int dst = class_body_expr();
      if (dst != reg) emit(OP_MOVE, reg, dst);
      add_local(name);
        return;
    }
    for (;;) {
      SQString* name = expect_ident();
        int reg = fs->nactive();
      if (tok() == '=') {
        next();
        Exp e = expression();
        to_fixed(e, reg);
      } else {
        set_freereg(reg + 1);
        emit(OP_LOADNULL, reg, 1);
      }
      add_local(name);
        if (tok() != ',') break;
      next();
    }
  }

  void return_statement() {
    bool isyield = tok() == TK_YIELD;
    next();
    if (isyield) fs->generator = true;
    if (end_of_statement()) {
      emit(isyield ? OP_YIELD : OP_RETURN, 0, 0);
    } else {
      int callpc = -1;
      int start = pc();
      Exp e = comma_expression();
      // 'return f(...)': the call just emitted for this expression becomes a tail call
      if (e.k == E_REG && pc() > start && fs->code.back().op == OP_CALL && fs->code.back().a == e.r &&
          e.r >= fs->nactive())
        callpc = pc() - 1;
      int r = to_any(e);
      if (!isyield && callpc >= 0 && callpc == pc() - 1 && fs->traps == 0 && !fs->generator) {
        fs->code[callpc].op = OP_TAILCALL;
      }
      emit(isyield ? OP_YIELD : OP_RETURN, r, 1);
    }
    optional_semicolon();
  }

  void function_statement() {
    next();
    // function a::b::c(): the name path is resolved like an expression
    SQString* name = expect_ident();
    Exp target = resolve_for_decl(name);
    SQString* last = name;
    while (tok() == TK_DOUBLE_COLON) {
      next();
      discharge_for_index(target);
      last = expect_ident();
      int obj = target.r;
      target = Exp();
      target.k = E_FIELDK;
      target.r = obj;
      target.lit = str_literal(last);
    }
    int obj, key;
    if (target.k == E_FIELDK) {
      obj = target.r;
      key = reserve();
      emit(OP_LOADK, key, 0, 0, target.lit);
    } else {
      obj = 0;
      key = reserve();
      emit(OP_LOADK, key, 0, 0, str_literal(name));
    }
    Exp f = function_literal(mk_str(last), false);
    int r = to_any(f);
    emit(OP_NEWSLOT, obj, key, r);
  }
  // The first name of a declaration path: a plain name declares into 'this'.
  Exp resolve_for_decl(SQString* name) {
    if (tok() != TK_DOUBLE_COLON) {
      Exp e;
      e.k = E_THISK;
      e.lit = str_literal(name);
      return e;
    }
    Exp e = resolve(name);
    return e;
  }

  void class_statement() {
    next();
    SQString* name = expect_ident();
    Exp target = resolve_for_decl_dot(name);
    int obj, key;
    if (target.k == E_FIELDK) {
      obj = target.r;
      key = reserve();
      emit(OP_LOADK, key, 0, 0, target.lit);
    } else if (target.k == E_THISK) {
      obj = 0;
      key = reserve();
      emit(OP_LOADK, key, 0, 0, target.lit);
    } else {
      error("invalid class name");
    }
    int cls = class_body_expr();
    emit(OP_NEWSLOT, obj, key, cls);
  }
  Exp resolve_for_decl_dot(SQString* name) {
    Exp e;
    if (tok() != '.') {
      e.k = E_THISK;
      e.lit = str_literal(name);
      return e;
    }
    e = resolve(name);
    while (tok() == '.') {
      next();
      discharge_for_index(e);
      SQString* m = expect_ident();
      int obj = e.r;
      e = Exp();
      e.k = E_FIELDK;
      e.r = obj;
      e.lit = str_literal(m);
    }
    return e;
  }

  SQObject scalar_constant() {
    bool neg = false;
    if (tok() == '-') {
      neg = true;
      next();
    }
    SQObject o;
    switch (tok()) {
      case TK_INTEGER: o = mk_int(neg ? (SQInteger)(0u - (uint32_t)lex.ival) : lex.ival); break;
      case TK_FLOAT: o = mk_float(neg ? -lex.fval : lex.fval); break;
      case TK_STRING_LITERAL:
        if (neg) error("scalar expected : integer,float");
        o = mk_str(intern(lex.sval.data(), (SQInteger)lex.sval.size()));
        break;
      case TK_TRUE:
      case TK_FALSE:
        if (neg) error("scalar expected : integer,float");
        o = mk_bool(tok() == TK_TRUE);
        break;
      default: error("scalar expected : integer,float or string");
    }
    next();
    return o;
  }

  void const_statement() {
    next();
    SQString* name = expect_ident();
    expect('=');
    SQObject val = scalar_constant();
    table_set(ss->consttable._unVal.pTable, mk_str(name), val);
    optional_semicolon();
  }

  void enum_statement() {
    next();
    SQString* name = expect_ident();
    expect('{');
    SQTable* t = table_new(ss, 0);
    keep(mk_obj(OT_TABLE, t));
    SQInteger n = 0;
    while (tok() != '}') {
      SQString* key = expect_ident();
      SQObject val;
      if (tok() == '=') {
        next();
        val = scalar_constant();
      } else {
        val = mk_int(n++);
      }
      table_set(t, mk_str(key), val);
      if (tok() == ',') next();
      if (tok() == TK_EOF) expect('}');
    }
    next();
    table_set(ss->consttable._unVal.pTable, mk_str(name), mk_obj(OT_TABLE, t));
  }

  void try_statement() {
    next();
    int catchreg = fs->nactive();
    int trap = emit(OP_PUSHTRAP, catchreg);
    fs->traps++;
    scoped_statement();
    fs->traps--;
    emit(OP_POPTRAP, 0, 1);
    int jend = emit(OP_JMP);
    patch_here(trap);
    expect(TK_CATCH);
    expect('(');
    SQString* name = expect_ident();
    expect(')');
    open_scope();
    add_local(name);
    statement();
    close_scope();
    patch_here(jend);
  }

  SQFunctionProto* compile_main(const char* src, size_t len) {
    lex.init(src, len);
    next();
    FuncState main;
    main.name = mk_str(ss, "main");
    obj_addref(main.name);
    fs = &main;
    add_local("this");
    main.nparams = 1;
    main.varparams = true;
    add_local("vargv");
    open_scope();
    while (tok() != TK_EOF) statement();
    close_scope();
    emit(OP_RETURN, 0, 0);
    SQFunctionProto* p = finish(main);
    fs = nullptr;
    return p;
  }
};

}  // namespace

SQFunctionProto* sq_compile_source(SQVM* v, const char* src, size_t len, const char* sourcename,
                                   SQCompileError& err) {
  Compiler c(v, err);
  c.sourcename = sourcename ? sourcename : "";
  err.desc[0] = 0;
  err.line = err.column = 0;
  try {
    return c.compile_main(src, len);
  } catch (CompileFailure&) {
    return nullptr;
  } catch (std::bad_alloc&) {
    snprintf(err.desc, sizeof(err.desc), "out of memory");
    return nullptr;
  }
}
