#include "shell/evaluate.h"

#include "shell/state.h"

namespace ivsh {

namespace {

// Parentheses deeper than this are refused rather than recursed into.
constexpr int kMaxDepth = 200;

// Recursive descent over the grammar
//   sum     = product { ("+" | "-") product }
//   product = unary { ("*" | "/" | "%") unary }
//   unary   = ("-" | "+") unary | primary
//   primary = number | "(" sum ")"
// The first error met sticks; later steps only unwind.
class Parser {
public:
    explicit Parser(std::wstring_view text) : text_(text) {}

    EvalError Run(int64_t& value)
    {
        int64_t result = Sum();
        Blanks();
        if (error_ == EvalError::None && pos_ != text_.size())
            error_ = EvalError::Syntax;
        if (error_ == EvalError::None)
            value = result;
        return error_;
    }

private:
    std::wstring_view text_;
    size_t pos_ = 0;
    int depth_ = 0;
    EvalError error_ = EvalError::None;

    void Blanks()
    {
        while (pos_ < text_.size() && IsBlank(text_[pos_]))
            ++pos_;
    }

    // The next non-blank unit, consumed when it is one of `choices`.
    wchar_t Take(const wchar_t* choices)
    {
        Blanks();
        if (pos_ < text_.size())
            for (const wchar_t* c = choices; *c != 0; ++c)
                if (text_[pos_] == *c)
                    return text_[pos_++];
        return 0;
    }

    int64_t Fail(EvalError error)
    {
        if (error_ == EvalError::None)
            error_ = error;
        return 0;
    }

    int64_t Sum()
    {
        int64_t left = Product();
        while (error_ == EvalError::None) {
            wchar_t op = Take(L"+-");
            if (op == 0)
                break;
            int64_t right = Product();
            bool overflow = op == L'+' ? __builtin_add_overflow(left, right, &left)
                                       : __builtin_sub_overflow(left, right, &left);
            if (overflow)
                return Fail(EvalError::Overflow);
        }
        return left;
    }

    int64_t Product()
    {
        int64_t left = Unary();
        while (error_ == EvalError::None) {
            wchar_t op = Take(L"*/%");
            if (op == 0)
                break;
            int64_t right = Unary();
            if (error_ != EvalError::None)
                break;
            if (op == L'*') {
                if (__builtin_mul_overflow(left, right, &left))
                    return Fail(EvalError::Overflow);
                continue;
            }
            if (right == 0)
                return Fail(EvalError::DivisionByZero);
            // The one quotient that does not fit: INT64_MIN / -1.
            if (left == INT64_MIN && right == -1) {
                if (op == L'/')
                    return Fail(EvalError::Overflow);
                left = 0;
                continue;
            }
            left = op == L'/' ? left / right : left % right;
        }
        return left;
    }

    int64_t Unary()
    {
        wchar_t sign = Take(L"-+");
        if (sign == 0)
            return Primary();
        if (++depth_ > kMaxDepth)
            return Fail(EvalError::Syntax);
        int64_t value = Unary();
        --depth_;
        if (sign == L'-' && __builtin_sub_overflow(int64_t(0), value, &value))
            return Fail(EvalError::Overflow);
        return value;
    }

    int64_t Primary()
    {
        if (Take(L"(") != 0) {
            if (++depth_ > kMaxDepth)
                return Fail(EvalError::Syntax);
            int64_t value = Sum();
            --depth_;
            if (error_ == EvalError::None && Take(L")") == 0)
                return Fail(EvalError::Syntax);
            return value;
        }
        return Number();
    }

    int64_t Number()
    {
        Blanks();
        size_t start = pos_;
        int base = 10;
        if (pos_ + 1 < text_.size() && text_[pos_] == L'0' && (text_[pos_ + 1] == L'x' || text_[pos_ + 1] == L'X')) {
            base = 16;
            pos_ += 2;
        }
        uint64_t value = 0;
        size_t digits = 0;
        bool overflow = false;
        for (; pos_ < text_.size(); ++pos_, ++digits) {
            int digit = DigitValue(text_[pos_]);
            if (digit < 0 || digit >= base)
                break;
            if (__builtin_mul_overflow(value, uint64_t(base), &value) ||
                __builtin_add_overflow(value, uint64_t(digit), &value))
                overflow = true;
        }
        if (digits == 0) {
            pos_ = start;
            return Fail(EvalError::Syntax);
        }
        // A letter or digit glued to the number ("12a", "0x1g") is no number.
        if (pos_ < text_.size() && IsNameChar(text_[pos_]))
            return Fail(EvalError::Syntax);
        if (overflow || value > uint64_t(INT64_MAX))
            return Fail(EvalError::Overflow);
        return int64_t(value);
    }

    static int DigitValue(wchar_t c)
    {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    }
};

} // namespace

EvalError EvaluateExpression(std::wstring_view text, int64_t& value)
{
    return Parser(text).Run(value);
}

int EvaluateToText(std::wstring_view text, std::wstring& result)
{
    int64_t value = 0;
    switch (EvaluateExpression(text, value)) {
    case EvalError::None:
        result = std::to_wstring(value);
        return 0;
    case EvalError::DivisionByZero:
        Message(L"Division by zero: " + std::wstring(text));
        return 1;
    case EvalError::Overflow:
        Message(L"Arithmetic overflow: " + std::wstring(text));
        return 1;
    case EvalError::Syntax:
        break;
    }
    Message(L"Bad expression: " + std::wstring(text));
    return 1;
}

} // namespace ivsh
