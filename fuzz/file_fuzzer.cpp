// libFuzzer target of the whole package: each input is written to a file that an
// embedded interpreter walks twice: through the storage layer alone
// (fuzz/storage_walk.py), which may end only in OzraFormatError, and through the
// public API (tests/damage/walk_damaged.py: measurements, analyses, spectra,
// profile spectra, chromatograms). Any other exception is a crash, as are the
// sanitizers' findings in the extension modules.
//
// Built with plain_frames.cpp (OZRA_PLAIN_FRAMES), a file's frames hold records the
// fuzzer mutates directly: records of any well-formed content, which a writer, not
// damage, would produce. Every field may hold any tag, and the public classes raise
// TypeError or AttributeError for values of a type they cannot use, as Python code
// does; so there the public walk may also end in those two.
#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

#ifdef OZRA_PLAIN_FRAMES
constexpr bool plain_frames = true;
#else
constexpr bool plain_frames = false;
#endif

PyObject* walk_all = nullptr;
std::string path;

[[noreturn]] void crash(const char* what) {
    if (PyErr_Occurred()) PyErr_Print();
    std::fprintf(stderr, "file_fuzzer: %s\n", what);
    std::abort();
}

PyObject* checked(PyObject* object, const char* what) {
    if (object == nullptr) crash(what);
    return object;
}

// The pure Python modules come from the source tree, the extension modules from this build.
const char* const setup = R"(
import sys
sys.path[:0] = [SOURCE + "/src", SOURCE + "/tests", SOURCE + "/tests/damage", SOURCE + "/fuzz"]
import ozra_data_access, ozra_data_access._internal
ozra_data_access.__path__.insert(0, MODULES)
ozra_data_access._internal.__path__.insert(0, MODULES)
import ozra_data_access.access, ozra_data_access.qual, ozra_data_access._internal._storage as storage
assert storage.__file__.startswith(MODULES), storage.__file__
import storage_walk, walk_damaged
from ozra_data_access.exception import OzraFormatError
walks = [(storage_walk.walk, (OzraFormatError,)),
         (walk_damaged.walk, (OzraFormatError, TypeError, AttributeError) if PLAIN else (OzraFormatError,))]

def walk_all(path):
    for walk, allowed in walks:
        try:
            walk(path)
        except allowed:
            pass
)";

void initialise() {
    PyPreConfig preconfig;
    PyPreConfig_InitPythonConfig(&preconfig);
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;  // every allocation seen by AddressSanitizer
    if (PyStatus_Exception(Py_PreInitialize(&preconfig))) crash("cannot pre-initialise the interpreter");
    Py_Initialize();
    PyObject* globals = checked(PyDict_New(), "globals");
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    PyDict_SetItemString(globals, "SOURCE", checked(PyUnicode_FromString(OZRA_SOURCE_DIR), "SOURCE"));
    PyDict_SetItemString(globals, "MODULES", checked(PyUnicode_FromString(OZRA_MODULE_DIR), "MODULES"));
    PyDict_SetItemString(globals, "PLAIN", plain_frames ? Py_True : Py_False);
    Py_DECREF(checked(PyRun_String(setup, Py_file_input, globals, globals), "the set-up failed"));
    walk_all = checked(PyDict_GetItemString(globals, "walk_all"), "walk_all");
    path = "/dev/shm/ozra-file-fuzzer-" + std::to_string(::getpid()) + ".ozra";
    std::atexit([] { ::unlink(path.c_str()); });
}

void write_file(const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) crash("cannot create the scratch file");
    const bool written = size == 0 || ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (!written) crash("cannot write the scratch file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (walk_all == nullptr) initialise();
    write_file(data, size);
    PyObject* result = PyObject_CallFunction(walk_all, "s", path.c_str());
    if (result == nullptr) crash("a walk raised an exception it may not raise");
    Py_DECREF(result);
    return 0;
}
