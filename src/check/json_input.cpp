#include "check/json_input.h"

#include "check/walk.h"
#include "exception/validation_error.h"
#include "json/reader.h"
#include "util/text.h"

namespace kestrome {

namespace {

void json_invalid_error(const std::string& text) {
    build_validation_error(Records{ErrorRecord{{}, "valid JSON", truncate_chars(text, 80), "json_invalid"}});
}

}  // namespace

JsonInput json_input_bytes(PyObject* data) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
        if (utf8 == nullptr) {
            py::discard_error();
            return JsonInput{JsonInputKind::LoneSurrogate, {}};
        }
        return JsonInput{JsonInputKind::Bytes, std::string_view(utf8, static_cast<std::size_t>(size))};
    }
    if (PyBytes_Check(data)) {
        return JsonInput{JsonInputKind::Bytes, std::string_view(PyBytes_AS_STRING(data),
                                                                static_cast<std::size_t>(PyBytes_GET_SIZE(data)))};
    }
    return JsonInput{JsonInputKind::WrongType, {}};
}

py::Ref parse_json_input(PyObject* data) {
    const JsonInput input = json_input_bytes(data);
    switch (input.kind) {
        case JsonInputKind::WrongType:
            py::set_error(PyExc_TypeError, "JSON input must be a str or bytes object");
            return py::Ref();
        case JsonInputKind::LoneSurrogate:
            json_invalid_error("input string is not valid UTF-8 (contains a lone surrogate)");
            return py::Ref();
        case JsonInputKind::Bytes: break;
    }
    JsonError error;
    py::Ref parsed = parse_json_python(input.bytes, error);
    if (!parsed) json_invalid_error(json_error_text(error, input.bytes));
    return parsed;
}

namespace {

// Each thread keeps the storage of its last value tree, so that a check
// does not allocate it again; a check started from inside another one (by a
// predicate) gets a tree of its own.
thread_local JsonTree cached_tree;
thread_local bool cached_tree_busy = false;

// Storage past this size is given back rather than kept for the next check.
constexpr std::size_t MAX_KEPT_BYTES = std::size_t{8} << 20;

class TreeLease {
public:
    TreeLease() : cached_(!cached_tree_busy) {
        if (cached_) cached_tree_busy = true;
    }
    ~TreeLease() {
        if (!cached_) return;
        cached_tree_busy = false;
        if (cached_tree.capacity_bytes() > MAX_KEPT_BYTES) cached_tree = JsonTree();
    }
    TreeLease(const TreeLease&) = delete;
    TreeLease& operator=(const TreeLease&) = delete;
    JsonTree& tree() { return cached_ ? cached_tree : own_; }

private:
    bool cached_;
    JsonTree own_;
};

}  // namespace

int is_valid_json_body(const ValidatorState& state, PyObject* data) {
    const JsonInput input = json_input_bytes(data);
    if (input.kind != JsonInputKind::Bytes) return 0;
    TreeLease lease;
    JsonError error;
    if (!parse_json_tree(input.bytes, lease.tree(), error)) return 0;
    return is_json_member(state, lease.tree());
}

}  // namespace kestrome
