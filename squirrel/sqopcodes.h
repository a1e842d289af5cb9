// Bytecode of the register machine. Each instruction is 8 bytes: an opcode,
// three 8-bit operands a, b, c (registers, counts, flags) and a signed 32-bit
// operand d (literal index, immediate, jump offset relative to the next
// instruction).
#pragma once

#define SQ_OPCODES(X)                                                                   \
  X(LOADNULL)      /* a..a+b-1 = null */                                               \
  X(LOADK)         /* a = literal d */                                                 \
  X(LOADINT)       /* a = integer d */                                                 \
  X(LOADFLOAT)     /* a = float with bits d */                                         \
  X(LOADBOOL)      /* a = b != 0 */                                                    \
  X(LOADROOT)      /* a = root table */                                                \
  X(MOVE)          /* a = b */                                                         \
  X(GETOUTER)      /* a = outer b */                                                   \
  X(SETOUTER)      /* outer a = b */                                                   \
  X(GET)           /* a = b[c] */                                                      \
  X(GETK)          /* a = b[literal d] */                                              \
  X(GETTHISK)      /* a = this[literal d], falling back to the root table */           \
  X(SET)           /* a[b] = c */                                                      \
  X(SETK)          /* a[literal d] = c */                                              \
  X(SETTHISK)      /* this[literal d] = c, falling back to the root table */           \
  X(NEWSLOT)       /* a[b] <- c */                                                     \
  X(NEWSLOTA)      /* class member a[b] <- c; d&1 static, d&2 attributes in c+1 */     \
  X(DELETE)        /* a = delete b[c] */                                               \
  X(ADD) X(SUB) X(MUL) X(DIV) X(MOD) /* a = b op c */                                  \
  X(ADDI)          /* a = b + d */                                                     \
  X(ADDK) X(SUBK) X(MULK) X(DIVK) X(MODK) /* a = b op literal d */                     \
  X(CONCAT)        /* a = the text of a .. a+b-1 joined */                             \
  X(BAND) X(BOR) X(BXOR) X(SHL) X(SHR) X(USHR)                                         \
  X(NEG) X(NOT) X(BNOT) /* a = op b */                                                 \
  X(EQ) X(NE) X(LT) X(LE) X(GT) X(GE) X(CMP3) /* a = b op c */                         \
  X(JMP)           /* ip += d */                                                       \
  X(JZ)            /* if !a: ip += d */                                                \
  X(JNZ)           /* if a: ip += d */                                                 \
  X(JNEQ) X(JNNE) X(JNLT) X(JNLE) X(JNGT) X(JNGE) /* if !(a op b): ip += d */          \
  X(JNEQK) X(JNNEK) X(JNLTK) X(JNLEK) X(JNGTK) X(JNGEK) /* the same against literal b|c<<8 */ \
  X(JEQ) X(JNE) X(JLT) X(JLE) X(JGT) X(JGE) /* if a op b: ip += d */                   \
  X(JEQK) X(JNEK) X(JLTK) X(JLEK) X(JGTK) X(JGEK) /* the same against literal b|c<<8 */ \
  X(CALL)          /* a = call b with c arguments (this included); a == 255: none */   \
  X(TAILCALL)      /* return call b with c arguments */                                \
  X(PREPCALL)      /* a+1 = b; a = b[c] */                                             \
  X(PREPCALLK)     /* a+1 = b; a = b[literal d] */                                     \
  X(PREPCALLTHISK) /* a+1 = this; a = this[literal d] (root fallback) */               \
  X(RETURN)        /* return a if b, else null */                                      \
  X(NEWTABLE)      /* a = {} sized for d */                                            \
  X(NEWARRAY)      /* a = [] reserved for d */                                         \
  X(APPEND)        /* a.append(b) */                                                   \
  X(CLOSURE)       /* a = closure of function d, defaults from b.. */                  \
  X(CLASS)         /* a = class extending b (255: none), attributes c (255: none) */   \
  X(PREFOREACH)    /* a+1 = start of iteration over a; d: loop exit */                 \
  X(FOREACH)       /* a+2, a+3 = next key, value of a; ip += d at the end */           \
  X(TYPEOF) X(CLONE) X(RESUME) /* a = op b */                                          \
  X(INSTANCEOF)    /* a = b instanceof c */                                            \
  X(IN)            /* a = b in c */                                                    \
  X(YIELD)         /* yield a if b, else null */                                       \
  X(THROW)         /* throw a */                                                       \
  X(PUSHTRAP)      /* try: on error a = error, ip += d */                              \
  X(POPTRAP)       /* drop b traps */                                                  \
  X(CLOSE)         /* close outers on registers >= a */                                \
  X(GETBASE)       /* a = base class of the running method */

enum SQOpcode {
#define SQ_OP_ENUM(name) OP_##name,
  SQ_OPCODES(SQ_OP_ENUM)
#undef SQ_OP_ENUM
  OP__COUNT
};

constexpr int SQ_NO_REG = 255;
constexpr int SQ_MAX_REGS = 250;
