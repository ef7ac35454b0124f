#include "check/walk/check_memo.hpp"

#include <unordered_map>

namespace quillmar::ext {

namespace {

struct PlaceHash {
  std::size_t operator()(const CheckMemo::Place& place) const {
    std::uint64_t h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(place.identity));
    h ^= (place.schema << 2 | static_cast<std::uint64_t>(place.mode)) * 0x9E3779B97F4A7C15ull;
    h ^= (place.on_value.low ^ (place.on_value.high << 1)) * 0xD6E8FEB86659FD93ull;
    h ^= static_cast<std::uint64_t>(place.budget) * 0xA0761D6478BD642Full;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};

}  // namespace

struct CheckMemo::Table {
  std::unordered_map<Place, Outcome, PlaceHash> outcomes;
  std::vector<PyRef> held;
};

CheckMemo::CheckMemo() = default;
CheckMemo::~CheckMemo() = default;

const CheckMemo::Outcome* CheckMemo::find(const Place& place) const {
  if (!table_) return nullptr;
  auto found = table_->outcomes.find(place);
  return found == table_->outcomes.end() ? nullptr : &found->second;
}

void CheckMemo::store(const Place& place, PyObject* held, Outcome outcome) {
  if (!table_) table_ = std::make_unique<Table>();
  if (place.budget != ANY_BUDGET) keeps_budgeted_ = true;
  if (!(place.on_value == ANY_ON_VALUE)) keeps_on_value_ = true;
  auto [at, added] = table_->outcomes.try_emplace(place, std::move(outcome));
  if (added && held) table_->held.push_back(PyRef::borrow(held));
}

}  // namespace quillmar::ext
