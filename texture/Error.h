// What went wrong, as a value: the title and text a modder reads, and how grave it is. The
// core returns these and never shows them; the window puts them in a message box, the CLI
// prints the text on standard error.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

// How a message is shown: the box's icon in the window.
enum class Icon { None, Critical, Question, Exclamation };

struct Error {
  std::string title;  // empty: the program's own name
  std::string text;   // line breaks are "\n"
  Icon icon = Icon::Critical;

  bool operator==(const Error&) const = default;
};

// A result or the error that stopped it, in the manner of std::expected (which this
// compiler's C++20 lacks): `if (auto archive = Archive::Open(path)) use(*archive); else
// show(archive.error());`.
template <typename T>
class Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { assert(has_value()); return std::get<0>(state_); }
  const T& value() const& { assert(has_value()); return std::get<0>(state_); }
  T&& value() && { assert(has_value()); return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { assert(!has_value()); return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

// What an operation that gives nothing back returns: no error, or the one that stopped it.
using Failure = std::optional<Error>;
