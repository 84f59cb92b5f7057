// SIATEC: one TEC per MTP, with every non-zero Vector that carries the whole pattern
// onto Points of the Dataset.
#pragma once

#include <span>
#include <vector>

#include "mtp_table.hpp"
#include "tec.hpp"

namespace motivra::sia {

// The records of every MTP of `dataset`, in the order of MtpTable::vectors(), each
// with its translators in set order. Depends only on the distinct Points.
[[nodiscard]] std::vector<Tec> build_tecs_from_mtps(std::span<const Point> dataset, bool restrict_dpitch_zero);

// The same records from an existing MTP table.
[[nodiscard]] std::vector<Tec> build_tecs(const MtpTable& table);

// Throws std::bad_alloc when the records of `table` cannot fit even before their
// translators: every MTP's Points and one record per MTP. A builder calls it before
// the translator work.
void ensure_records_fit(const MtpTable& table);

}  // namespace motivra::sia
