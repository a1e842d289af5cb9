// The regular-expression engine behind the regexp class and sqstd_rex_*.
//
// A pattern is parsed into a small tree, then compiled into a program for a
// backtracking machine that tries alternatives in order (leftmost match,
// greedy or lazy quantifiers as written). Backtracking keeps its own stack on
// the heap, so no pattern or text can exhaust the C stack, and every run has a
// step budget so that patterns with exponential behaviour end with a
// reported failure instead of hanging the caller.
//
// Syntax: . [] [^] ^ $ | () (?:) * + ? {n} {n,} {n,m} (each quantifier may be
// followed by ? to make it lazy), \t \n \r \f \v, the classes \a \A (letters)
// \w \W (letters, digits, _) \s \S (white space) \d \D (digits) \x \X (hex
// digits) \c \C (control characters) \p \P (punctuation) \l \L (lower case)
// \u \U (upper case), the word boundaries \b \B, and \mXY, which matches a run
// from X to its balancing Y. Any other escaped character stands for itself.
#include "sqstdstring.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

// Machine steps of one search: about a tenth of a second. Sanitized fuzzing
// builds lower it so that pathological patterns fail fast.
#ifndef SQREX_STEP_BUDGET
#define SQREX_STEP_BUDGET 20000000
#endif

namespace {

constexpr long kStepBudget = SQREX_STEP_BUDGET;
constexpr int kMaxNesting = 200;          // parentheses inside each other
constexpr int kMaxRepeatCount = 65535;    // n and m of {n,m}
constexpr size_t kMaxProgram = 1 << 16;   // instructions of one compiled pattern
constexpr size_t kMaxBacktrack = 1 << 21; // entries of the backtracking stack

struct CharSet {
  uint32_t bits[8] = {};
  bool has(unsigned char c) const { return (bits[c >> 5] >> (c & 31)) & 1; }
  void add(unsigned char c) { bits[c >> 5] |= 1u << (c & 31); }
  void add_range(unsigned char lo, unsigned char hi) {
    for (unsigned c = lo; c <= hi; c++) add((unsigned char)c);
  }
  void add_set(const CharSet& o) {
    for (int i = 0; i < 8; i++) bits[i] |= o.bits[i];
  }
  void invert() {
    for (uint32_t& b : bits) b = ~b;
  }
};

bool is_word_char(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The set of a class escape letter (\d, \W, ...); false when the letter names
// no class. Only ASCII counts: bytes from 128 up belong to the negated sets.
bool class_escape_set(char letter, CharSet& out) {
  CharSet s;
  char lower = (letter >= 'A' && letter <= 'Z') ? (char)(letter - 'A' + 'a') : letter;
  switch (lower) {
  case 'a': s.add_range('a', 'z'); s.add_range('A', 'Z'); break;
  case 'w': s.add_range('a', 'z'); s.add_range('A', 'Z'); s.add_range('0', '9'); s.add('_'); break;
  case 's': s.add(' '); s.add_range('\t', '\r'); break;
  case 'd': s.add_range('0', '9'); break;
  case 'x': s.add_range('0', '9'); s.add_range('a', 'f'); s.add_range('A', 'F'); break;
  case 'c': s.add_range(0, 31); s.add(127); break;
  case 'p': s.add_range('!', '/'); s.add_range(':', '@'); s.add_range('[', '`'); s.add_range('{', '~'); break;
  case 'l': s.add_range('a', 'z'); break;
  case 'u': s.add_range('A', 'Z'); break;
  default: return false;
  }
  if (letter != lower) s.invert();
  out = s;
  return true;
}

// The character an escape like \n stands for, or the letter itself.
unsigned char control_escape(unsigned char c) {
  switch (c) {
  case 't': return '\t';
  case 'n': return '\n';
  case 'r': return '\r';
  case 'f': return '\f';
  case 'v': return '\v';
  default: return c;
  }
}

// ---- Parse tree -------------------------------------------------------------

enum NodeKind : uint8_t {
  N_EMPTY, N_CHAR, N_ANY, N_SET, N_BOL, N_EOL, N_WORDB, N_NWORDB, N_BALANCE,
  N_CAT, N_ALT, N_GROUP, N_REPEAT,
};

struct Node {
  NodeKind kind = N_EMPTY;
  int a = 0, b = 0, c = 0; // CHAR: a = byte; SET: a = set; BALANCE: a, b = the pair;
                           // GROUP: a = capture index; REPEAT: b = min, c = max (-1: none)
  bool lazy = false;
  std::vector<int> kids;
};

struct Parser {
  const unsigned char* p;
  std::vector<Node>& nodes;
  std::vector<CharSet>& sets;
  const char* error = nullptr;
  int depth = 0;
  int groups = 1; // group 0 is the whole match

  int add(NodeKind k, int a = 0, int b = 0) {
    Node n;
    n.kind = k, n.a = a, n.b = b;
    nodes.push_back(n);
    return (int)nodes.size() - 1;
  }
  int fail(const char* msg) {
    if (!error) error = msg;
    return -1;
  }

  // alternation := branch ('|' branch)*
  int alternation() {
    if (++depth > kMaxNesting) return fail("expression nested too deeply");
    int first = branch();
    if (first < 0) return -1;
    int result = first;
    if (*p == '|') {
      result = add(N_ALT);
      nodes[result].kids.push_back(first);
      while (*p == '|') {
        p++;
        int next = branch();
        if (next < 0) return -1;
        nodes[result].kids.push_back(next);
      }
    }
    depth--;
    return result;
  }

  // branch := piece*
  int branch() {
    int cat = add(N_CAT);
    while (*p && *p != '|' && *p != ')') {
      int piece_node = piece();
      if (piece_node < 0) return -1;
      nodes[cat].kids.push_back(piece_node);
    }
    if (nodes[cat].kids.size() == 1) return nodes[cat].kids[0];
    if (nodes[cat].kids.empty()) nodes[cat].kind = N_EMPTY;
    return cat;
  }

  bool read_count(int& out) {
    if (*p < '0' || *p > '9') return false;
    long v = 0;
    while (*p >= '0' && *p <= '9') {
      v = v * 10 + (*p++ - '0');
      if (v > kMaxRepeatCount) return false;
    }
    out = (int)v;
    return true;
  }

  // piece := atom quantifier?
  int piece() {
    int atom_node = atom();
    if (atom_node < 0) return -1;
    int min, max;
    switch (*p) {
    case '*': min = 0; max = -1; p++; break;
    case '+': min = 1; max = -1; p++; break;
    case '?': min = 0; max = 1; p++; break;
    case '{':
      p++;
      if (!read_count(min)) return fail("invalid repeat count");
      max = min;
      if (*p == ',') {
        p++;
        if (*p == '}') max = -1;
        else if (!read_count(max) || max < min) return fail("invalid repeat count");
      }
      if (*p++ != '}') return fail("expected '}'");
      break;
    default: return atom_node;
    }
    int rep = add(N_REPEAT);
    nodes[rep].b = min;
    nodes[rep].c = max;
    nodes[rep].kids.push_back(atom_node);
    if (*p == '?') {
      nodes[rep].lazy = true;
      p++;
    }
    return rep;
  }

  int atom() {
    unsigned char c = *p++;
    switch (c) {
    case '(': {
      int index = -1;
      if (p[0] == '?' && p[1] == ':') p += 2;
      else index = groups++;
      int inner = alternation();
      if (inner < 0) return -1;
      if (*p != ')') return fail("expected ')'");
      p++;
      if (index < 0) return inner;
      int g = add(N_GROUP, index);
      nodes[g].kids.push_back(inner);
      return g;
    }
    case '[': return char_class();
    case '.': return add(N_ANY);
    case '^': return add(N_BOL);
    case '$': return add(N_EOL);
    case '*': case '+': case '?': case '{': return fail("nothing to repeat");
    case '\\': {
      unsigned char e = *p;
      if (!e) return fail("unexpected end of expression after '\\'");
      p++;
      if (e == 'b') return add(N_WORDB);
      if (e == 'B') return add(N_NWORDB);
      if (e == 'm') {
        if (!p[0] || !p[1]) return fail("\\m needs two characters");
        int n = add(N_BALANCE, p[0], p[1]);
        p += 2;
        return n;
      }
      CharSet s;
      if (class_escape_set((char)e, s)) {
        sets.push_back(s);
        return add(N_SET, (int)sets.size() - 1);
      }
      return add(N_CHAR, control_escape(e));
    }
    default: return add(N_CHAR, c);
    }
  }

  // One member of a bracket class: a byte, or a class escape in out_set.
  bool class_member(unsigned char& out_char, CharSet& out_set, bool& is_set) {
    is_set = false;
    unsigned char c = *p++;
    if (c != '\\') {
      out_char = c;
      return true;
    }
    unsigned char e = *p;
    if (!e) return false;
    p++;
    if (class_escape_set((char)e, out_set)) is_set = true;
    else out_char = control_escape(e);
    return true;
  }

  // After '[': members up to ']'; a '-' first or last stands for itself.
  int char_class() {
    CharSet set;
    bool negate = false;
    if (*p == '^') {
      negate = true;
      p++;
    }
    if (*p == ']') return fail("empty class");
    while (*p != ']') {
      if (!*p) return fail("expected ']'");
      unsigned char lo, hi;
      CharSet member;
      bool lo_is_set, hi_is_set;
      if (!class_member(lo, member, lo_is_set)) return fail("expected ']'");
      if (lo_is_set) {
        set.add_set(member);
        continue;
      }
      if (p[0] == '-' && p[1] && p[1] != ']') {
        p++;
        if (!class_member(hi, member, hi_is_set)) return fail("expected ']'");
        if (hi_is_set || hi < lo) return fail("invalid range in class");
        set.add_range(lo, hi);
      } else {
        set.add(lo);
      }
    }
    p++;
    if (negate) set.invert();
    sets.push_back(set);
    return add(N_SET, (int)sets.size() - 1);
  }
};

bool nullable(const std::vector<Node>& nodes, int n) {
  const Node& node = nodes[n];
  switch (node.kind) {
  case N_CHAR: case N_ANY: case N_SET: case N_BALANCE: return false;
  case N_CAT:
    for (int k : node.kids)
      if (!nullable(nodes, k)) return false;
    return true;
  case N_ALT:
    for (int k : node.kids)
      if (nullable(nodes, k)) return true;
    return false;
  case N_GROUP: return nullable(nodes, node.kids[0]);
  case N_REPEAT: return node.b == 0 || nullable(nodes, node.kids[0]);
  default: return true;
  }
}

// ---- Program ----------------------------------------------------------------

enum Op : uint8_t {
  OP_CHAR,     // a = byte
  OP_ANY,
  OP_SET,      // a = set
  OP_BOL, OP_EOL, OP_WORDB, OP_NWORDB,
  OP_BALANCE,  // a = opening byte, b = closing byte
  OP_REPEAT,   // one byte of set a, b to c times (c < 0: no limit), greedy or lazy
  OP_SPLIT,    // go on at a; on failure at b
  OP_JMP,      // a
  OP_SAVE,     // capture slot a = position
  OP_MARK,     // loop register a = position where this iteration starts
  OP_PROGRESS, // fail when the iteration begun at register a consumed nothing
  OP_MATCH,
};

struct Inst {
  Op op;
  bool lazy;
  int a, b, c;
};

struct Codegen {
  const std::vector<Node>& nodes;
  std::vector<CharSet>& sets;
  std::vector<Inst>& code;
  int registers = 0;
  bool too_big = false;

  int emit(Op op, int a = 0, int b = 0, int c = 0, bool lazy = false) {
    if (code.size() >= kMaxProgram) {
      too_big = true;
      return (int)code.size() - 1;
    }
    code.push_back(Inst{op, lazy, a, b, c});
    return (int)code.size() - 1;
  }
  int here() const { return (int)code.size(); }

  // The set an atom of one byte matches, or -1 when it is not such an atom.
  int single_byte_set(int n) {
    const Node& node = nodes[n];
    if (node.kind == N_SET) return node.a;
    if (node.kind != N_CHAR && node.kind != N_ANY) return -1;
    CharSet s;
    if (node.kind == N_CHAR) s.add((unsigned char)node.a);
    else s.invert();
    sets.push_back(s);
    return (int)sets.size() - 1;
  }

  void gen(int n) {
    if (too_big) return;
    const Node& node = nodes[n];
    switch (node.kind) {
    case N_EMPTY: break;
    case N_CHAR: emit(OP_CHAR, node.a); break;
    case N_ANY: emit(OP_ANY); break;
    case N_SET: emit(OP_SET, node.a); break;
    case N_BOL: emit(OP_BOL); break;
    case N_EOL: emit(OP_EOL); break;
    case N_WORDB: emit(OP_WORDB); break;
    case N_NWORDB: emit(OP_NWORDB); break;
    case N_BALANCE: emit(OP_BALANCE, node.a, node.b); break;
    case N_CAT:
      for (int k : node.kids) gen(k);
      break;
    case N_ALT: {
      // SPLIT next_branch; branch; JMP end; ... last branch
      std::vector<int> jumps;
      for (size_t i = 0; i < node.kids.size(); i++) {
        int split = -1;
        if (i + 1 < node.kids.size()) split = emit(OP_SPLIT);
        if (split >= 0) code[split].a = here();
        gen(node.kids[i]);
        if (i + 1 < node.kids.size()) {
          jumps.push_back(emit(OP_JMP));
          if (split >= 0 && !too_big) code[split].b = here();
        }
      }
      if (too_big) return;
      for (int j : jumps) code[j].a = here();
      break;
    }
    case N_GROUP:
      emit(OP_SAVE, node.a * 2);
      gen(node.kids[0]);
      emit(OP_SAVE, node.a * 2 + 1);
      break;
    case N_REPEAT: gen_repeat(node); break;
    }
  }

  // A split that prefers the body for greedy loops and the exit for lazy
  // ones; the caller patches the body and exit targets.
  void set_split(int split, int body, int exit, bool lazy) {
    if (too_big) return;
    code[split].a = lazy ? exit : body;
    code[split].b = lazy ? body : exit;
  }

  void gen_repeat(const Node& node) {
    int child = node.kids[0];
    int min = node.b, max = node.c;
    int set = single_byte_set(child);
    if (set >= 0) {
      emit(OP_REPEAT, set, min, max, node.lazy);
      return;
    }
    for (int i = 0; i < min && !too_big; i++) gen(child);
    if (max < 0) {
      // loop: SPLIT body, exit; body: [MARK r] child [PROGRESS r]; JMP loop
      bool guard = nullable(nodes, child);
      int reg = guard ? registers++ : 0;
      int loop = emit(OP_SPLIT);
      int body = here();
      if (guard) emit(OP_MARK, reg);
      gen(child);
      if (guard) emit(OP_PROGRESS, reg);
      emit(OP_JMP, loop);
      set_split(loop, body, here(), node.lazy);
      return;
    }
    // max - min optional copies, each tried only after the one before matched
    std::vector<int> splits;
    for (int i = min; i < max && !too_big; i++) {
      splits.push_back(emit(OP_SPLIT));
      code[splits.back()].a = here();
      gen(child);
    }
    if (too_big) return;
    int exit = here();
    for (int s : splits) set_split(s, s + 1, exit, node.lazy);
  }
};

// The bytes a match can begin with, looking through assertions; may_be_empty
// when a match can be empty, in which case no start position may be skipped.
void first_bytes(const std::vector<Inst>& code, const std::vector<CharSet>& sets, CharSet& out,
                 bool& may_be_empty) {
  std::vector<bool> seen(code.size(), false);
  std::vector<int> todo{0};
  may_be_empty = false;
  while (!todo.empty()) {
    int pc = todo.back();
    todo.pop_back();
    if (pc < 0 || pc >= (int)code.size() || seen[pc]) continue;
    seen[pc] = true;
    const Inst& in = code[pc];
    switch (in.op) {
    case OP_CHAR: out.add((unsigned char)in.a); break;
    case OP_ANY: {
      CharSet all;
      all.invert();
      out.add_set(all);
      break;
    }
    case OP_SET: out.add_set(sets[in.a]); break;
    case OP_BALANCE: out.add((unsigned char)in.a); break;
    case OP_REPEAT:
      out.add_set(sets[in.a]);
      if (in.b == 0) todo.push_back(pc + 1);
      break;
    case OP_SPLIT: todo.push_back(in.a); todo.push_back(in.b); break;
    case OP_JMP: todo.push_back(in.a); break;
    case OP_MATCH: may_be_empty = true; break;
    default: todo.push_back(pc + 1); break;
    }
  }
}

enum FrameKind : uint8_t {
  F_RESUME,   // go on at pc from pos
  F_SAVE,     // restore capture slot a to b
  F_REGISTER, // restore loop register a to b
  F_GREEDY,   // OP_REPEAT at pc took bytes up to pos; give one back, down to b
  F_LAZY,     // OP_REPEAT at pc took bytes up to pos; take one more, up to b
};

struct Frame {
  FrameKind kind;
  int pc, pos, b;
};

enum RunResult { RUN_NO_MATCH, RUN_MATCH, RUN_ABORTED };

} // namespace

struct SQRex {
  std::vector<Inst> code;
  std::vector<CharSet> sets;
  int groups = 1;
  int registers = 0;
  bool anchored = false;     // the pattern begins with '^'
  bool may_be_empty = true;  // no start position can be skipped
  CharSet first;             // bytes a match can begin with
  // State of the last run.
  std::vector<int> caps;     // two slots per group; -1 = not set
  std::vector<int> regs;
  std::vector<Frame> stack;
  const unsigned char* text = nullptr;
  bool matched = false;
  bool aborted = false;
};

namespace {

// Runs the program from start; on a match the capture slots hold offsets.
RunResult run(SQRex* r, const unsigned char* text, int len, int start, bool whole, long& steps) {
  std::vector<int>& caps = r->caps;
  std::vector<int>& regs = r->regs;
  std::vector<Frame>& stack = r->stack;
  std::fill(caps.begin(), caps.end(), -1);
  std::fill(regs.begin(), regs.end(), -1);
  stack.clear();
  const Inst* code = r->code.data();
  const CharSet* sets = r->sets.data();
  int pc = 0, pos = start;

  for (;;) {
    if (++steps > kStepBudget || stack.size() > kMaxBacktrack) return RUN_ABORTED;
    const Inst& in = code[pc];
    switch (in.op) {
    case OP_CHAR:
      if (pos < len && text[pos] == (unsigned char)in.a) {
        pos++, pc++;
        continue;
      }
      break;
    case OP_ANY:
      if (pos < len) {
        pos++, pc++;
        continue;
      }
      break;
    case OP_SET:
      if (pos < len && sets[in.a].has(text[pos])) {
        pos++, pc++;
        continue;
      }
      break;
    case OP_BOL:
      if (pos == 0) {
        pc++;
        continue;
      }
      break;
    case OP_EOL:
      if (pos == len) {
        pc++;
        continue;
      }
      break;
    case OP_WORDB:
    case OP_NWORDB: {
      bool before = pos > 0 && is_word_char(text[pos - 1]);
      bool after = pos < len && is_word_char(text[pos]);
      if ((before != after) == (in.op == OP_WORDB)) {
        pc++;
        continue;
      }
      break;
    }
    case OP_BALANCE: {
      if (pos >= len || text[pos] != (unsigned char)in.a) break;
      int depth = 1, q = pos + 1;
      for (; q < len; q++) {
        if (text[q] == (unsigned char)in.b) {
          if (--depth == 0) break;
        } else if (text[q] == (unsigned char)in.a) {
          depth++;
        }
      }
      steps += q - pos;
      if (q >= len) break;
      pos = q + 1, pc++;
      continue;
    }
    case OP_REPEAT: {
      const CharSet& set = sets[in.a];
      int room = len - pos;
      int max = (in.c < 0 || in.c > room) ? room : in.c;
      if (in.b > max) break;
      int n = 0;
      while (n < in.b && set.has(text[pos + n])) n++;
      if (n < in.b) break;
      if (!in.lazy)
        while (n < max && set.has(text[pos + n])) n++;
      steps += n;
      if (in.lazy) {
        if (n < max) stack.push_back(Frame{F_LAZY, pc, pos + n, pos + max});
      } else if (n > in.b) {
        stack.push_back(Frame{F_GREEDY, pc, pos + n, pos + in.b});
      }
      pos += n, pc++;
      continue;
    }
    case OP_SPLIT:
      stack.push_back(Frame{F_RESUME, in.b, pos, 0});
      pc = in.a;
      continue;
    case OP_JMP: pc = in.a; continue;
    case OP_SAVE:
      stack.push_back(Frame{F_SAVE, in.a, 0, caps[in.a]});
      caps[in.a] = pos, pc++;
      continue;
    case OP_MARK:
      stack.push_back(Frame{F_REGISTER, in.a, 0, regs[in.a]});
      regs[in.a] = pos, pc++;
      continue;
    case OP_PROGRESS:
      if (regs[in.a] != pos) {
        pc++;
        continue;
      }
      break;
    case OP_MATCH:
      if (!whole || pos == len) return RUN_MATCH;
      break;
    }

    // Failure: undo to the newest choice and take its other path.
    for (;;) {
      if (stack.empty()) return RUN_NO_MATCH;
      Frame& f = stack.back();
      if (f.kind == F_SAVE) {
        caps[f.pc] = f.b;
        stack.pop_back();
        continue;
      }
      if (f.kind == F_REGISTER) {
        regs[f.pc] = f.b;
        stack.pop_back();
        continue;
      }
      if (f.kind == F_RESUME) {
        pc = f.pc, pos = f.pos;
        stack.pop_back();
        break;
      }
      if (f.kind == F_GREEDY) {
        pos = --f.pos;
        pc = f.pc + 1;
        if (f.pos == f.b) stack.pop_back();
        break;
      }
      // F_LAZY
      if (sets[code[f.pc].a].has(text[f.pos])) {
        pos = ++f.pos;
        pc = f.pc + 1;
        if (f.pos == f.b) stack.pop_back();
        break;
      }
      stack.pop_back();
    }
  }
}

bool search(SQRex* r, const unsigned char* text, const unsigned char* end, bool whole,
            const SQChar** out_begin, const SQChar** out_end) {
  r->matched = false;
  r->aborted = false;
  r->text = text;
  if (!text || end < text || end - text > INT_MAX - 1) return false;
  int len = (int)(end - text);
  long steps = 0;
  // A whole-text match or a pattern that begins with '^' can only start at 0.
  const bool only_at_start = whole || r->anchored;
  for (int start = 0; start <= len; start++) {
    if (!r->may_be_empty) {
      // Skip to a byte that can begin a match.
      while (start < len && !r->first.has(text[start]) && !only_at_start) start++;
      if (start >= len || !r->first.has(text[start])) break;
    }
    RunResult res = run(r, text, len, start, whole, steps);
    if (res == RUN_ABORTED) {
      r->aborted = true;
      return false;
    }
    if (res == RUN_MATCH) {
      r->matched = true;
      if (out_begin) *out_begin = (const SQChar*)(text + r->caps[0]);
      if (out_end) *out_end = (const SQChar*)(text + r->caps[1]);
      return true;
    }
    if (only_at_start) break;
  }
  return false;
}

} // namespace

// For the script library (sqstdstring.cpp): whether the last search of r
// gave up because of its step budget, so that it can be reported instead of
// a plain "no match"; and a whole-text match over a range that may hold zeros.
bool sqstd_rex_last_aborted(const SQRex* r) { return r && r->aborted; }

bool sqstd_rex_matchrange(SQRex* r, const SQChar* text_begin, const SQChar* text_end) {
  return r && search(r, (const unsigned char*)text_begin, (const unsigned char*)text_end, true, nullptr, nullptr);
}

SQRex* sqstd_rex_compile(const SQChar* pattern, const SQChar** error) {
  if (error) *error = nullptr;
  if (!pattern) {
    if (error) *error = "no pattern";
    return nullptr;
  }
  SQRex* r = new (std::nothrow) SQRex;
  if (!r) {
    if (error) *error = "out of memory";
    return nullptr;
  }
  std::vector<Node> nodes;
  Parser parser{(const unsigned char*)pattern, nodes, r->sets};
  int root = parser.alternation();
  if (root >= 0 && *parser.p == ')') root = parser.fail("unexpected ')'");
  if (root < 0) {
    if (error) *error = parser.error;
    delete r;
    return nullptr;
  }
  r->groups = parser.groups;

  const Node& top = nodes[root];
  r->anchored = top.kind == N_BOL || (top.kind == N_CAT && nodes[top.kids[0]].kind == N_BOL);

  Codegen gen{nodes, r->sets, r->code};
  gen.emit(OP_SAVE, 0);
  gen.gen(root);
  gen.emit(OP_SAVE, 1);
  gen.emit(OP_MATCH);
  if (gen.too_big) {
    if (error) *error = "expression too big";
    delete r;
    return nullptr;
  }
  r->registers = gen.registers;
  r->caps.assign((size_t)r->groups * 2, -1);
  r->regs.assign((size_t)r->registers, -1);
  first_bytes(r->code, r->sets, r->first, r->may_be_empty);
  return r;
}

void sqstd_rex_free(SQRex* exp) { delete exp; }

SQBool sqstd_rex_match(SQRex* exp, const SQChar* text) {
  if (!exp || !text) return SQFalse;
  const unsigned char* t = (const unsigned char*)text;
  return search(exp, t, t + strlen(text), true, nullptr, nullptr) ? SQTrue : SQFalse;
}

SQBool sqstd_rex_search(SQRex* exp, const SQChar* text, const SQChar** out_begin, const SQChar** out_end) {
  if (!exp || !text) return SQFalse;
  return sqstd_rex_searchrange(exp, text, text + strlen(text), out_begin, out_end);
}

SQBool sqstd_rex_searchrange(SQRex* exp, const SQChar* text_begin, const SQChar* text_end,
                             const SQChar** out_begin, const SQChar** out_end) {
  if (!exp) return SQFalse;
  return search(exp, (const unsigned char*)text_begin, (const unsigned char*)text_end, false, out_begin,
                out_end)
             ? SQTrue
             : SQFalse;
}

SQInteger sqstd_rex_getsubexpcount(SQRex* exp) { return exp ? exp->groups : 0; }

SQBool sqstd_rex_getsubexp(SQRex* exp, SQInteger n, SQRexMatch* subexp) {
  if (!exp || !subexp || n < 0 || n >= exp->groups) return SQFalse;
  int b = exp->matched ? exp->caps[(size_t)n * 2] : -1;
  int e = exp->matched ? exp->caps[(size_t)n * 2 + 1] : -1;
  if (b < 0 || e < b) {
    subexp->begin = nullptr;
    subexp->len = 0;
  } else {
    subexp->begin = (const SQChar*)(exp->text + b);
    subexp->len = e - b;
  }
  return SQTrue;
}
