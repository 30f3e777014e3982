// Fixed-column text fields: the reading and writing rules that every input
// file, output file and console line of the tool follows.
//
// Layout kinds: int(w), int(w.m), fixed(w.d), text(w), text, skip(n), and the
// free-format line (see free_format.hpp). Columns are counted from 0 in code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace textio {

// ---------------------------------------------------------------- reading

// Parse one integer field (all of `field`): blanks anywhere are ignored, an
// all-blank field is 0, one leading sign is allowed. Returns false (value
// untouched) on any other character, a sign without digits, or a value
// outside the 32-bit range.
bool parse_int(std::string_view field, std::int32_t& value);

// Parse one real field with `d` implied decimals: blanks anywhere are
// ignored, an all-blank field is 0; an optional sign, digits with or without
// a decimal point (without one the digits are divided by 10^d), then an
// optional exponent ("E", "e", "D" or "d" and a signed integer, or a sign
// directly followed by an integer). The result is the correctly rounded float
// of the decimal value as written. Returns false (value untouched) on any
// other character, no digit before the exponent, or an exponent without digits.
bool parse_fixed(std::string_view field, int d, float& value);

// The common fields of a list line read at once: blanks anywhere, at most
// one sign before the first digit, digits (at most 18) and at most one
// point, such as " 64.2265", "    0" or a date " 0 1 12004". Gives exactly
// parse_fixed's value; false, with `value` untouched, for any other field
// (which the caller then gives to parse_fixed).
bool parse_plain_fixed(std::string_view field, int d, float& value);

// A line being read field by field. A field that runs past the end of the
// line reads the missing columns as blanks. After the first read error `ok`
// stays false; the failing field reads as 0 and later fields still advance.
struct LineCursor {
  std::string_view line;
  std::size_t col = 0;
  bool ok = true;
};

// The next w columns of the line (possibly shorter or empty at its end).
std::string_view take_columns(LineCursor& cur, int w);
std::int32_t read_int(LineCursor& cur, int w);          // int(w)
float read_fixed(LineCursor& cur, int w, int d);        // fixed(w.d)
// text(w) into a text variable of `length` characters: with w >= length the
// rightmost `length` of the w columns, otherwise the w columns padded.
std::string read_text(LineCursor& cur, int w, std::size_t length);
void read_skip(LineCursor& cur, int n);                 // skip(n)

// ---------------------------------------------------------------- writing

// int(w) and int(w.m): right-aligned, "-" before negative values, at least m
// digits (zero-filled); w asterisks when the text does not fit.
void put_int(std::string& out, std::int64_t value, int w, int m = 1);
// fixed(w.d): the value expanded to 16 significant digits, rounded half-up to
// d decimals; "0" before the point for magnitudes below 1 unless the field is
// exactly one column short for it; NaN / Inf / -Inf right-aligned; w
// asterisks when the text does not fit.
void put_fixed(std::string& out, float value, int w, int d);
// fixed(w.d) as read back: of the texts that fit w columns (put_fixed's
// first, then decimals with more or fewer places, then mantissa and
// exponent forms such as "1.2345-5"), the one whose value read with
// parse_fixed(.., d) is nearest `value`. Returns whether it reads back as
// `value` exactly. A value that is not finite is written as put_fixed does.
bool put_nearest_fixed(std::string& out, float value, int w, int d);
// text(w): the value in exactly w columns (its first w characters, or
// right-aligned after blanks when shorter).
void put_text(std::string& out, std::string_view value, int w);
void put_skip(std::string& out, int n);                 // skip(n)

// ---------------------------------------------------------------- decimal digits
// Shared by the fixed-field and free-format writers.

// A finite float's magnitude expanded to 16 significant decimal digits:
// magnitude ~ digits[0].digits[1..15] x 10^exponent (all '0' and exponent 0
// for zero).
struct Expansion16 {
  char digits[16];
  int exponent;
};
Expansion16 expand16(float value);

// The expansion rounded half-up to its first `keep` digits, as the decimal
// integer counting units of the last kept digit's place (10^(exponent - keep
// + 1)). It has keep + 1 digits when the rounding carries into a new leading
// digit; keep <= 0 gives "1" or "0", keep > 16 appends zeros, and a zero
// expansion gives keep zeros.
std::string rounded_digits(const Expansion16& x, std::int64_t keep);

// ---------------------------------------------------------------- texts

// A text variable of `length` characters: the value cut or blank-padded.
std::string padded(std::string_view value, std::size_t length);
// The value without its trailing blanks.
std::string_view trim_right(std::string_view value);

}  // namespace textio
