// Binding fast-call arguments to the three named parameters of a function,
// and the scalar conversions, with the exact messages of bad calls.
#pragma once

#include "interface/py_ref.hpp"

#include <cstdint>
#include <optional>

#include "noise/shot_noise.hpp"

namespace vexlume {

struct FunctionDescription {
    const char* name;
    const char* parameters[3];
};

// Fills `slots` with borrowed references to the bound arguments. Returns
// false with a TypeError set when the arguments do not bind.
bool bind_arguments(const FunctionDescription& function, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject* slots[3]);

// Sets "'<type>' object cannot be converted to '<target>'" as a TypeError.
void raise_conversion_error(PyObject* object, const char* target);

// After a failed conversion of `parameter`: a pending exception of exactly
// the type TypeError is replaced by one whose message names the parameter.
void name_parameter_in_type_error(const char* parameter);

// kind: None, or a str naming a kind exactly. Returns false with an exception
// set otherwise.
bool convert_kind(PyObject* object, ShotNoiseKind& kind);

// seed: None, or an integer in [0, 2**64) (anything with __index__).
bool convert_seed(PyObject* object, std::optional<std::uint64_t>& seed);

}  // namespace vexlume
