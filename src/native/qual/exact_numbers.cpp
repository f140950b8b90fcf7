#include "qual/exact_numbers.hpp"

#include "qual/qual_module.hpp"

namespace ozra::qual {
namespace {

const NumpyScalarTypes* numpy_scalar_types() {
    NumpyScalarTypes& types = state().numpy_scalar_types;
    if (types.float64.get() != nullptr) return &types;
    py::Ref numpy = py::Ref::steal(PyImport_GetModule(py::Ref::checked(PyUnicode_FromString("numpy")).get()));
    if (!numpy) {
        if (PyErr_Occurred()) py::throw_error();
        return nullptr;
    }
    py::Ref float64 = py::Ref::steal(PyObject_GetAttrString(numpy.get(), "float64"));
    py::Ref integer = py::Ref::steal(PyObject_GetAttrString(numpy.get(), "integer"));
    if (!float64 || !integer || !PyType_Check(float64.get()) || !PyType_Check(integer.get())) {
        // A partly imported or unusual numpy: its values go the interpreter's way.
        if (PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) py::throw_error();
            PyErr_Clear();
        }
        return nullptr;
    }
    types.integer = py::Kept(std::move(integer));
    types.float64 = py::Kept(std::move(float64));
    return &types;
}

std::optional<double> exact_integer(PyObject* integer) {
    const double value = PyLong_AsDouble(integer);
    if (value == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) py::throw_error();
        PyErr_Clear();  // beyond every double: compared by the interpreter
        return std::nullopt;
    }
    py::Ref back = py::from_double(value);
    if (!py::compare(integer, back.get(), Py_EQ)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> exact_double(PyObject* number) {
    if (PyFloat_CheckExact(number)) return PyFloat_AS_DOUBLE(number);
    if (PyLong_CheckExact(number) || PyBool_Check(number)) return exact_integer(number);
    const bool maybe_numpy = PyFloat_Check(number) || !PyLong_Check(number);
    if (!maybe_numpy) return std::nullopt;  // an int subclass
    const NumpyScalarTypes* numpy = numpy_scalar_types();
    if (numpy == nullptr) return std::nullopt;
    if (Py_TYPE(number) == reinterpret_cast<PyTypeObject*>(numpy->float64.get())) return PyFloat_AS_DOUBLE(number);
    if (!PyType_IsSubtype(Py_TYPE(number), reinterpret_cast<PyTypeObject*>(numpy->integer.get()))) return std::nullopt;
    py::Ref integer = py::Ref::checked(PyNumber_Index(number));
    return exact_integer(integer.get());
}

}  // namespace ozra::qual
