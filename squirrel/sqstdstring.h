// The string standard library: format, strip, lstrip, rstrip, split and the
// regexp class for scripts, plus the C functions behind them (sqstd_format
// and the regular-expression engine sqstd_rex_*).
#ifndef SQSTDSTRING_H
#define SQSTDSTRING_H

#include "squirrel.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int SQRexBool;
typedef struct SQRex SQRex;

// One sub-expression of the last successful match: begin is null and len 0
// for a group that took no part in the match.
typedef struct {
  const SQChar* begin;
  SQInteger len;
} SQRexMatch;

// Compiles pattern; on failure returns null and points *error (when error is
// not null) at a static message.
SQUIRREL_API SQRex* sqstd_rex_compile(const SQChar* pattern, const SQChar** error);
SQUIRREL_API void sqstd_rex_free(SQRex* exp);
// True when the expression matches the whole of text.
SQUIRREL_API SQBool sqstd_rex_match(SQRex* exp, const SQChar* text);
// Finds the leftmost match in text; out_begin/out_end (either may be null)
// receive its bounds.
SQUIRREL_API SQBool sqstd_rex_search(SQRex* exp, const SQChar* text, const SQChar** out_begin,
                                     const SQChar** out_end);
// Like sqstd_rex_search over [text_begin, text_end), which may hold zeros;
// '^' matches at text_begin and '$' at text_end.
SQUIRREL_API SQBool sqstd_rex_searchrange(SQRex* exp, const SQChar* text_begin, const SQChar* text_end,
                                          const SQChar** out_begin, const SQChar** out_end);
// Number of sub-expressions including the whole match (groups + 1).
SQUIRREL_API SQInteger sqstd_rex_getsubexpcount(SQRex* exp);
// Sub-expression n (0 = the whole match) of the last successful match.
SQUIRREL_API SQBool sqstd_rex_getsubexp(SQRex* exp, SQInteger n, SQRexMatch* subexp);

// Formats the string at stack index nformatstringidx with the values above
// it, printf style. The result lies in the VM's scratch pad (valid until the
// next call that uses it); on error a script error is raised and returned.
SQUIRREL_API SQRESULT sqstd_format(HSQUIRRELVM v, SQInteger nformatstringidx, SQInteger* outlen,
                                   SQChar** output);

// Registers the library in the table on top of the stack.
SQUIRREL_API SQRESULT sqstd_register_stringlib(HSQUIRRELVM v);

#ifdef __cplusplus
}
#endif

#endif
