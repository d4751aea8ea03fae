// Row-parallel reduction: one 64-bit float per row of a complex array,
// evaluated on a worker pool.
#pragma once

#include <algorithm>
#include <cstddef>

#include "core/view.hpp"
#include "statistics/worker_pool.hpp"

namespace vexlume {

// out[i] = row_function(rows.row(i)) for every i < min(rows.rows, out_len),
// evaluated on `pool`; returns when every row is done and rethrows the first
// failure of a row. Rows are handed over as views, never copied; each output
// element is written by exactly one worker. row_function is called from
// several threads at once and must keep any mutable state to itself.
template <class RowFunction>
void complex_reduce_inplace(WorkerPool& pool, View2<Complex> rows, double* out,
                            std::size_t out_len, const RowFunction& row_function) {
    const auto rows_in_range = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) out[i] = row_function(rows.row(i));
    };
    pool.run(std::min(rows.rows, out_len), rows_in_range);
}

// The same on the process-wide pool.
template <class RowFunction>
void complex_reduce_inplace(View2<Complex> rows, double* out, std::size_t out_len,
                            const RowFunction& row_function) {
    complex_reduce_inplace(process_pool(), rows, out, out_len, row_function);
}

}  // namespace vexlume
