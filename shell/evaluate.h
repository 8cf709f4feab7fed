// Integer arithmetic for Evaluate and @eval.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ivsh {

enum class EvalError { None, Syntax, DivisionByZero, Overflow };

// Evaluates `text`: 64-bit integers, decimal or hexadecimal after "0x";
// binary + - * / % with C's precedence and C's truncating / and %; unary - and
// +; parentheses; blanks anywhere between tokens. `value` is set only on
// success.
EvalError EvaluateExpression(std::wstring_view text, int64_t& value);

// As EvaluateExpression, with the value as decimal text in `result`. On
// failure writes a message ("Bad expression: ...") and returns non-zero.
int EvaluateToText(std::wstring_view text, std::wstring& result);

} // namespace ivsh
