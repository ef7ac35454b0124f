#include "json/value.hpp"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "json/number.hpp"
#include "json/string_cache.hpp"

namespace quillmar::ext {

std::size_t JsonValue::char_count() const {
  std::string_view bytes = as_string();
  if (is_ascii()) return bytes.size();
  std::size_t count = 0;
  for (char c : bytes) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

namespace {

bool is_decimal_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Short decimals, the common case, without from_chars: false when the
// number needs the general algorithm.
bool short_decimal_to_double(std::string_view text, double& out) {
  const char* p = text.data();
  const char* end = p + text.size();
  bool negative = *p == '-';
  if (negative) ++p;
  std::uint64_t mantissa = 0;
  int significant = 0;  // digits from the first nonzero one
  int scale = 0;        // minus the number of fraction digits
  for (; p != end && is_decimal_digit(*p); ++p) {
    mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    significant += significant != 0 || mantissa != 0;
  }
  if (p != end && *p == '.') {
    for (++p; p != end && is_decimal_digit(*p); ++p) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      significant += significant != 0 || mantissa != 0;
      --scale;
    }
  }
  if (significant > 19) return false;  // the mantissa may have wrapped
  if (p != end) {
    ++p;  // 'e' or 'E'
    bool exponent_negative = false;
    if (*p == '+' || *p == '-') exponent_negative = *p++ == '-';
    int exponent = 0;
    for (; p != end; ++p) {
      if (exponent > 1000) return false;
      exponent = exponent * 10 + (*p - '0');
    }
    scale += exponent_negative ? -exponent : exponent;
  }
  return json_detail::exact_decimal_to_double(mantissa, scale, negative, out);
}

}  // namespace

double json_number_to_double(std::string_view text) {
  double value = 0;
  if (short_decimal_to_double(text, value)) return value;
  return json_detail::rounded_decimal_to_double(text);
}

double json_detail::rounded_decimal_to_double(std::string_view text) {
  double value = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc::result_out_of_range) {
    return value;
  }
  // from_chars leaves the value alone when it overflows or underflows; the
  // decimal exponent of the leading significant digit tells which.
  const char* p = text.data();
  const char* end = p + text.size();
  bool negative = *p == '-';
  if (negative) ++p;
  std::int64_t scale = 0;
  const char* digits = p;
  while (p != end && is_decimal_digit(*p)) ++p;
  const char* digits_end = p;
  const char* d = digits;
  while (d != digits_end && *d == '0') ++d;
  bool leading_found = d != digits_end;
  if (leading_found) scale = digits_end - d;
  if (p != end && *p == '.') {
    const char* fraction = ++p;
    while (p != end && is_decimal_digit(*p)) ++p;
    if (!leading_found) {
      const char* f = fraction;
      while (f != p && *f == '0') ++f;
      scale = -(f - fraction);
    }
  }
  if (p != end) {
    ++p;  // 'e' or 'E'
    bool exponent_negative = false;
    if (*p == '+' || *p == '-') exponent_negative = *p++ == '-';
    std::int64_t power = 0;
    for (; p != end; ++p) {
      if (power < 1'000'000'000) power = power * 10 + (*p - '0');  // saturates; only the sign of scale matters
    }
    scale += exponent_negative ? -power : power;
  }
  double magnitude = scale > 0 ? __builtin_huge_val() : 0.0;
  return negative ? -magnitude : magnitude;
}

const JsonValue* JsonValue::find(std::string_view key) const {
  std::span<const JsonMember> all = members();
  // From the end: the last duplicate is the one a dict would keep.
  for (std::size_t i = all.size(); i-- > 0;) {
    std::string_view candidate = all[i].key.as_string();
    if (candidate.size() == key.size() && std::memcmp(candidate.data(), key.data(), key.size()) == 0) {
      return &all[i].value;
    }
  }
  return nullptr;
}

Result<PyRef> int_from_decimal(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  // Eighteen digits at a time: each chunk fits a long long, and the
  // interpreter's str-to-int digit limit never applies.
  constexpr std::size_t chunk = 18;
  auto chunk_value = [](std::string_view part) {
    long long value = 0;
    for (char c : part) value = value * 10 + (c - '0');
    return value;
  };
  std::size_t first = digits.size() % chunk;
  if (first == 0) first = std::min(chunk, digits.size());
  Result<PyRef> total = checked(PyLong_FromLongLong(chunk_value(digits.substr(0, first))));
  if (!total || first == digits.size()) {
    if (total && negative) return checked(PyNumber_Negative(total->get()));
    return total;
  }
  Result<PyRef> scale = checked(PyLong_FromLongLong(1'000'000'000'000'000'000LL));
  if (!scale) return scale;
  PyRef value = std::move(*total);
  for (std::size_t at = first; at < digits.size(); at += chunk) {
    Result<PyRef> shifted = checked(PyNumber_Multiply(value.get(), scale->get()));
    if (!shifted) return shifted;
    Result<PyRef> part = checked(PyLong_FromLongLong(chunk_value(digits.substr(at, chunk))));
    if (!part) return part;
    Result<PyRef> sum = checked(PyNumber_Add(shifted->get(), part->get()));
    if (!sum) return sum;
    value = std::move(*sum);
  }
  if (negative) return checked(PyNumber_Negative(value.get()));
  return value;
}

Result<PyRef> json_to_python(const JsonValue& value) {
  switch (value.kind()) {
    case JsonKind::Null:
      return PyRef::borrow(Py_None);
    case JsonKind::Bool:
      return PyRef::borrow(value.as_bool() ? Py_True : Py_False);
    case JsonKind::Int:
      return checked(PyLong_FromLongLong(value.as_int()));
    case JsonKind::BigInt:
      return int_from_decimal(value.big_int_text());
    case JsonKind::Float:
      return checked(PyFloat_FromDouble(value.as_float()));
    case JsonKind::String:
      return checked(json_detail::new_json_string(value.as_string(), value.is_ascii()));
    case JsonKind::Array: {
      std::span<const JsonValue> items = value.items();
      Result<PyRef> list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
      if (!list) return list;
      for (std::size_t i = 0; i < items.size(); ++i) {
        Result<PyRef> item = json_to_python(items[i]);
        if (!item) return item;
        PyList_SET_ITEM(list->get(), static_cast<Py_ssize_t>(i), item->release());
      }
      return list;
    }
    case JsonKind::Object: {
      Result<PyRef> dict = checked(PyDict_New());
      if (!dict) return dict;
      for (const JsonMember& member : value.members()) {
        Result<PyRef> item = json_to_python(member.value);
        if (!item) return item;
        Result<PyRef> key = checked(json_detail::new_json_string(member.key.as_string(), member.key.is_ascii()));
        if (!key) return key;
        if (PyDict_SetItem(dict->get(), key->get(), item->get()) < 0) return fetched();
      }
      return dict;
    }
  }
  return fail(PyExc_SystemError, "unknown JSON value kind");
}

}  // namespace quillmar::ext
