// The parts of the keo Python module, each adding its names to it.
#pragma once

#include <pybind11/pybind11.h>

namespace keo::python {

void bindMovie(pybind11::module_& m); // keo.open, keo.Movie
void bindWrite(pybind11::module_& m); // keo.write

} // namespace keo::python
