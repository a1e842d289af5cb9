// Tokenizer: turns source text into tokens, tracking line and column.
#include "sqlexer.h"
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {
struct Keyword {
  const char* name;
  int tok;
};
const Keyword kKeywords[] = {
    {"while", TK_WHILE}, {"do", TK_DO}, {"if", TK_IF}, {"else", TK_ELSE}, {"break", TK_BREAK},
    {"continue", TK_CONTINUE}, {"return", TK_RETURN}, {"null", TK_NULL},
    {"function", TK_FUNCTION}, {"local", TK_LOCAL}, {"for", TK_FOR}, {"foreach", TK_FOREACH},
    {"in", TK_IN}, {"typeof", TK_TYPEOF}, {"base", TK_BASE}, {"delete", TK_DELETE},
    {"try", TK_TRY}, {"catch", TK_CATCH}, {"throw", TK_THROW}, {"clone", TK_CLONE},
    {"yield", TK_YIELD}, {"resume", TK_RESUME}, {"switch", TK_SWITCH}, {"case", TK_CASE},
    {"default", TK_DEFAULT}, {"this", TK_THIS}, {"class", TK_CLASS}, {"extends", TK_EXTENDS},
    {"constructor", TK_CONSTRUCTOR}, {"instanceof", TK_INSTANCEOF}, {"true", TK_TRUE},
    {"false", TK_FALSE}, {"static", TK_STATIC}, {"enum", TK_ENUM}, {"const", TK_CONST},
    {"__LINE__", TK___LINE__}, {"__FILE__", TK___FILE__},
};
}  // namespace

void SQLexer::init(const char* s, size_t n) {
  src = s;
  len = n;
  pos = 0;
  line = col = 1;
  prev_line = 1;
  token = TK_EOF;
  error.clear();
}

const char* SQLexer::token_text(int tok, char* buf) {
  if (tok > 0 && tok < 256) {
    buf[0] = (char)tok;
    buf[1] = 0;
    return buf;
  }
  switch (tok) {
    case TK_EOF: return "end of file";
    case TK_IDENTIFIER: return "IDENTIFIER";
    case TK_STRING_LITERAL: return "STRING_LITERAL";
    case TK_INTEGER: return "INTEGER";
    case TK_FLOAT: return "FLOAT";
    case TK_EQ: return "==";
    case TK_NE: return "!=";
    case TK_LE: return "<=";
    case TK_GE: return ">=";
    case TK_CMP3: return "<=>";
    case TK_AND: return "&&";
    case TK_OR: return "||";
    case TK_PLUSPLUS: return "++";
    case TK_MINUSMINUS: return "--";
    case TK_PLUSEQ: return "+=";
    case TK_MINUSEQ: return "-=";
    case TK_MULEQ: return "*=";
    case TK_DIVEQ: return "/=";
    case TK_MODEQ: return "%=";
    case TK_NEWSLOT: return "<-";
    case TK_DOUBLE_COLON: return "::";
    case TK_SHIFTL: return "<<";
    case TK_SHIFTR: return ">>";
    case TK_USHIFTR: return ">>>";
    case TK_VARPARAMS: return "...";
    case TK_ATTR_OPEN: return "</";
    case TK_ATTR_CLOSE: return "/>";
  }
  for (const Keyword& k : kKeywords)
    if (k.tok == tok) return k.name;
  return "?";
}

int SQLexer::lex() {
  prev_line = line;
  newline_before = false;
  auto peek = [&](size_t o = 0) -> int { return pos + o < len ? (unsigned char)src[pos + o] : 0; };
  auto next = [&]() {
    if (pos < len) {
      if (src[pos] == '\n') {
        line++;
        col = 1;
      } else {
        col++;
      }
      pos++;
    }
  };
  auto fail = [&](const char* msg) {
    error = msg;
    token = TK_EOF;
    return TK_EOF;
  };
  int start_line = line;
  for (;;) {
    int c = peek();
    if (c == 0 && pos >= len) {
      tok_line = line;
      tok_col = col;
      newline_before = true;
      return token = TK_EOF;
    }
    if (c == '\n' || c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == 0) {
      next();
      continue;
    }
    if (c == '#' || (c == '/' && peek(1) == '/')) {
      while (pos < len && peek() != '\n') next();
      continue;
    }
    if (c == '/' && peek(1) == '*') {
      next();
      next();
      for (;;) {
        if (pos >= len) return fail("missing \"*/\" in comment");
        if (peek() == '*' && peek(1) == '/') {
          next();
          next();
          break;
        }
        next();
      }
      continue;
    }
    break;
  }
  newline_before = line != start_line;
  tok_line = line;
  tok_col = col;
  int c = peek();

  // identifiers and keywords
  if (isalpha(c) || c == '_') {
    size_t s = pos;
    while (isalnum(peek()) || peek() == '_') next();
    sval.assign(src + s, pos - s);
    for (const Keyword& k : kKeywords)
      if (sval == k.name) return token = k.tok;
    return token = TK_IDENTIFIER;
  }

  // numbers
  if (isdigit(c)) {
    size_t s = pos;
    if (c == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
      next();
      next();
      if (!isxdigit(peek())) return fail("expected hex digits after '0x'");
      uint32_t v = 0;
      int digits = 0;
      while (isxdigit(peek())) {
        int d = peek();
        v = v * 16 + (uint32_t)(isdigit(d) ? d - '0' : (tolower(d) - 'a' + 10));
        digits++;
        next();
      }
      if (digits > 8) return fail("too many digits for an Hex number");
      ival = (SQInteger)v;
      return token = TK_INTEGER;
    }
    bool isfloat = false;
    while (isdigit(peek())) next();
    if (peek() == '.' && isdigit(peek(1))) {
      isfloat = true;
      next();
      while (isdigit(peek())) next();
    } else if (peek() == '.' && !isalpha(peek(1)) && peek(1) != '.' && peek(1) != '_') {
      // "1." is a float too
      isfloat = true;
      next();
    }
    if (peek() == 'e' || peek() == 'E') {
      size_t save = pos;
      int sl = line, sc = col;
      next();
      if (peek() == '+' || peek() == '-') next();
      if (!isdigit(peek())) {
        pos = save;
        line = sl;
        col = sc;
        return fail("exponent expected");
      }
      while (isdigit(peek())) next();
      isfloat = true;
    }
    std::string text(src + s, pos - s);
    if (isalpha(peek()) || peek() == '_') return fail("invalid number");
    if (isfloat) {
      fval = (SQFloat)strtod(text.c_str(), nullptr);
      return token = TK_FLOAT;
    }
    uint64_t v = 0;
    if (text.size() > 1 && text[0] == '0') {
      for (size_t i = 1; i < text.size(); i++) {
        if (text[i] > '7') return fail("invalid octal number");
        v = v * 8 + (uint64_t)(text[i] - '0');
        v &= 0xFFFFFFFFFFull;
      }
    } else {
      for (char d : text) {
        v = v * 10 + (uint64_t)(d - '0');
        v &= 0xFFFFFFFFFFull;
      }
    }
    ival = (SQInteger)(uint32_t)v;
    return token = TK_INTEGER;
  }

  // strings and character literals
  auto read_escape = [&](std::string& out) -> bool {
    next();  // the backslash
    int e = peek();
    switch (e) {
      case 't': out += '\t'; break;
      case 'a': out += '\a'; break;
      case 'b': out += '\b'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'v': out += '\v'; break;
      case 'f': out += '\f'; break;
      case '0': out += '\0'; break;
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case '\'': out += '\''; break;
      case 'x': {
        next();
        if (!isxdigit(peek())) {
          error = "hexadecimal number expected";
          return false;
        }
        int v = 0;
        for (int i = 0; i < 2 && isxdigit(peek()); i++) {
          int d = peek();
          v = v * 16 + (isdigit(d) ? d - '0' : (tolower(d) - 'a' + 10));
          next();
        }
        out += (char)v;
        return true;
      }
      default:
        error = "unrecognised escaper char";
        return false;
    }
    next();
    return true;
  };

  if (c == '"' || (c == '@' && peek(1) == '"')) {
    bool verbatim = c == '@';
    if (verbatim) next();
    next();
    sval.clear();
    for (;;) {
      int ch = peek();
      if (pos >= len) return fail("unfinished string");
      if (ch == '"') {
        if (verbatim && peek(1) == '"') {
          sval += '"';
          next();
          next();
          continue;
        }
        next();
        break;
      }
      if (!verbatim && ch == '\n') return fail("newline in a constant");
      if (!verbatim && ch == '\\') {
        if (!read_escape(sval)) {
          token = TK_EOF;
          return TK_EOF;
        }
        continue;
      }
      sval += (char)ch;
      next();
    }
    return token = TK_STRING_LITERAL;
  }
  if (c == '\'') {
    next();
    std::string ch;
    if (peek() == '\\') {
      if (!read_escape(ch)) {
        token = TK_EOF;
        return TK_EOF;
      }
    } else if (pos < len && peek() != '\'' && peek() != '\n') {
      ch += (char)peek();
      next();
    } else {
      return fail("empty constant");
    }
    if (peek() != '\'') return fail("constant too long");
    next();
    ival = (SQInteger)(signed char)ch[0];
    return token = TK_INTEGER;
  }

  // operators
  next();
  switch (c) {
    case '=':
      if (peek() == '=') { next(); return token = TK_EQ; }
      return token = '=';
    case '!':
      if (peek() == '=') { next(); return token = TK_NE; }
      return token = '!';
    case '<':
      if (peek() == '=') {
        next();
        if (peek() == '>') { next(); return token = TK_CMP3; }
        return token = TK_LE;
      }
      if (peek() == '-') { next(); return token = TK_NEWSLOT; }
      if (peek() == '<') { next(); return token = TK_SHIFTL; }
      if (peek() == '/') { next(); return token = TK_ATTR_OPEN; }
      return token = '<';
    case '>':
      if (peek() == '=') { next(); return token = TK_GE; }
      if (peek() == '>') {
        next();
        if (peek() == '>') { next(); return token = TK_USHIFTR; }
        return token = TK_SHIFTR;
      }
      return token = '>';
    case '&':
      if (peek() == '&') { next(); return token = TK_AND; }
      return token = '&';
    case '|':
      if (peek() == '|') { next(); return token = TK_OR; }
      return token = '|';
    case '+':
      if (peek() == '+') { next(); return token = TK_PLUSPLUS; }
      if (peek() == '=') { next(); return token = TK_PLUSEQ; }
      return token = '+';
    case '-':
      if (peek() == '-') { next(); return token = TK_MINUSMINUS; }
      if (peek() == '=') { next(); return token = TK_MINUSEQ; }
      return token = '-';
    case '*':
      if (peek() == '=') { next(); return token = TK_MULEQ; }
      return token = '*';
    case '/':
      if (peek() == '=') { next(); return token = TK_DIVEQ; }
      if (peek() == '>') { next(); return token = TK_ATTR_CLOSE; }
      return token = '/';
    case '%':
      if (peek() == '=') { next(); return token = TK_MODEQ; }
      return token = '%';
    case ':':
      if (peek() == ':') { next(); return token = TK_DOUBLE_COLON; }
      return token = ':';
    case '.':
      if (peek() == '.' && peek(1) == '.') {
        next();
        next();
        return token = TK_VARPARAMS;
      }
      return token = '.';
    case '{': case '}': case '(': case ')': case '[': case ']': case ';': case ',':
    case '?': case '^': case '~': case '@':
      return token = c;
  }
  return fail("unexpected character");
}
