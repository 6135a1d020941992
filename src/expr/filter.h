// Filter conditions: a condition text tested against every record of the view, the
// passing records becoming the new view.
#pragma once
#include <optional>
#include <string>

#include "table/table.h"

namespace rorarodi {

// A condition is a text, or the reset marker (std::nullopt): every record passes
// the condition itself and only the deleted-record rule applies.
using FilterCondition = std::optional<std::string>;
inline constexpr std::nullopt_t kResetMarker = std::nullopt;

// Joins a text condition to the table's filter text, then rebuilds the view from
// the current view with the records that pass; drops the order.
void apply_filter(DbfTable& table, const FilterCondition& condition);

// Whether the record in the record buffer passes.
bool record_passes(DbfTable& table, const FilterCondition& condition);

} // namespace rorarodi
