// Tokenizer of the scripting language.
#pragma once
#include "sqobject.h"
#include <string>

enum SQToken {
  TK_EOF = 0,
  // single characters are their own code (1..255)
  TK_IDENTIFIER = 256, TK_STRING_LITERAL, TK_INTEGER, TK_FLOAT,
  TK_EQ, TK_NE, TK_LE, TK_GE, TK_CMP3, TK_AND, TK_OR, TK_PLUSPLUS, TK_MINUSMINUS,
  TK_PLUSEQ, TK_MINUSEQ, TK_MULEQ, TK_DIVEQ, TK_MODEQ, TK_NEWSLOT, TK_DOUBLE_COLON,
  TK_SHIFTL, TK_SHIFTR, TK_USHIFTR, TK_VARPARAMS, TK_ATTR_OPEN, TK_ATTR_CLOSE,
  // keywords
  TK_WHILE, TK_DO, TK_IF, TK_ELSE, TK_BREAK, TK_CONTINUE, TK_RETURN, TK_NULL, TK_FUNCTION,
  TK_LOCAL, TK_FOR, TK_FOREACH, TK_IN, TK_TYPEOF, TK_BASE, TK_DELETE, TK_TRY, TK_CATCH,
  TK_THROW, TK_CLONE, TK_YIELD, TK_RESUME, TK_SWITCH, TK_CASE, TK_DEFAULT, TK_THIS, TK_CLASS,
  TK_EXTENDS, TK_CONSTRUCTOR, TK_INSTANCEOF, TK_TRUE, TK_FALSE, TK_STATIC, TK_ENUM, TK_CONST,
  TK___LINE__, TK___FILE__
};

struct SQLexer {
  const char* src = nullptr;
  size_t len = 0;
  size_t pos = 0;
  int line = 1;
  int col = 1;           // column of the next character
  int tok_line = 1;      // where the current token starts
  int tok_col = 1;
  int prev_line = 1;     // line where the previous token ended
  bool newline_before = false;  // a line break separates the current token from the previous
  int token = TK_EOF;
  std::string sval;      // identifier / string literal text
  SQInteger ival = 0;
  SQFloat fval = 0;
  std::string error;     // set on a lexical error

  void init(const char* s, size_t n);
  int lex();             // advances to the next token; TK_EOF at end or on error
  static const char* token_text(int tok, char* buf);
};
