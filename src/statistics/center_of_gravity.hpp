// The intensity-weighted mean time of a complex time-domain trace.
#pragma once

#include "core/view.hpp"

namespace vexlume {

// Sample k of an n-sample trace lies at k*dt - (n*0.5)*dt, so the origin is
// the middle of the trace. The numerator is accumulated in sample order; the
// ratio is not guarded, so an all-zero or empty trace gives NaN. Pure and
// safe to call from many threads at once.
double _center_of_gravity(View1<Complex> trace, double dt);

}  // namespace vexlume
