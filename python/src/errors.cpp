#include "python/src/errors.h"

#include "core/common/error.h"
#include "python/src/doc.h"

namespace korva::python {
namespace {

namespace py = pybind11;

// Created once when the module is imported and kept for the interpreter's
// life, as the module's attributes are.
PyObject* error_type = nullptr;
PyObject* format_error_type = nullptr;
PyObject* range_error_type = nullptr;
PyObject* io_error_type = nullptr;

PyObject* NewType(py::module_& m, const char* name, const char* doc, py::tuple bases) {
  const std::string qualified = std::string("korva.") + name;
  PyObject* type =
      PyErr_NewExceptionWithDoc(qualified.c_str(), Doc(doc).c_str(), bases.ptr(), nullptr);
  if (type == nullptr) throw py::error_already_set();
  m.add_object(name, py::handle(type));
  return type;
}

}  // namespace

py::handle IoErrorType() {
  return io_error_type;
}

void DefineErrors(py::module_& m) {
  error_type = NewType(m, "Error",
                       "Base of every error korva reports: bad input, a file that cannot be "
                       "read or written, a computation refused. The message is fit to show.",
                       py::make_tuple(py::handle(PyExc_Exception)));
  format_error_type =
      NewType(m, "FormatError",
              "A file whose content cannot be what it claims to be (a KRV file without samples, a "
              "truncated WAV file). Also a ValueError.",
              py::make_tuple(py::handle(error_type), py::handle(PyExc_ValueError)));
  range_error_type =
      NewType(m, "RangeError",
              "An index or a count outside the range a computation takes (a waveform longer than "
              "the session holds). Also a ValueError.",
              py::make_tuple(py::handle(error_type), py::handle(PyExc_ValueError)));
  io_error_type = NewType(m, "IoError",
                          "A file that cannot be opened, read, created, written or renamed; "
                          "the message names the file and the system's reason. Also an OSError.",
                          py::make_tuple(py::handle(error_type), py::handle(PyExc_OSError)));

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const korva::FormatError& e) {
      PyErr_SetString(format_error_type, e.what());
    } catch (const korva::RangeError& e) {
      PyErr_SetString(range_error_type, e.what());
    } catch (const korva::IoError& e) {
      PyErr_SetString(io_error_type, e.what());
    } catch (const korva::Error& e) {
      PyErr_SetString(error_type, e.what());
    }
  });
}

}  // namespace korva::python
