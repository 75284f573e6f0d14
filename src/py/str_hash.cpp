#include "py/str_hash.h"

#include "py/error.h"
#include "py/ref.h"

namespace kestrome {

std::uint64_t text_hash(std::string_view text) {
    const py::Ref str = py::Ref::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
    if (!str) py::internal_failure("could not create a str object");
    return str_hash(str.get());
}

}  // namespace kestrome
