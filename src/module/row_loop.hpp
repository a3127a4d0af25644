// The loop of every batch over its rows: the interpreter lock released, the
// rows shared among the OpenMP threads one at a time (schedule(dynamic, 1):
// the cost of a row varies by orders of magnitude along a batch), with the
// default number of threads.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <type_traits>

namespace nia::module {

// row(i) for i = 0 .. count - 1 with the lock released. A row never throws
// (an exception cannot leave the parallel region): it reports a failure in
// its outputs or a shared flag, and the caller raises after the join, with
// the lock held again.
template <class Row>
void for_each_row(std::int64_t count, const Row& row) {
    static_assert(std::is_nothrow_invocable_v<const Row&, std::int64_t>,
                  "a row function is noexcept");
    pybind11::gil_scoped_release release;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::int64_t i = 0; i < count; ++i) row(i);
}

}  // namespace nia::module
