#include "py/args.h"

#include "py/error.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kestrome::py {

namespace {

std::string full_name(const FunctionDescription& desc) {
    std::string out;
    if (desc.class_name != nullptr) {
        out += desc.class_name;
        out += '.';
    }
    out += desc.name;
    out += "()";
    return out;
}

void too_many_positional(const FunctionDescription& desc, std::size_t given) {
    const char* was = given == 1 ? "was" : "were";
    std::string msg = full_name(desc);
    if (desc.required_positional != desc.positional.size()) {
        msg += " takes from " + std::to_string(desc.required_positional) + " to " +
               std::to_string(desc.positional.size()) + " positional arguments but " +
               std::to_string(given) + " " + was + " given";
    } else {
        msg += " takes " + std::to_string(desc.positional.size()) + " positional arguments but " +
               std::to_string(given) + " " + was + " given";
    }
    set_error(PyExc_TypeError, msg);
}

void keyword_error(const FunctionDescription& desc, const char* what, PyObject* name) {
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        text = "<unprintable>";
    }
    std::string msg = full_name(desc) + " " + what + " '" + text + "'";
    set_error(PyExc_TypeError, msg);
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
void missing_arguments(const FunctionDescription& desc, const char* kind,
                       const std::vector<const char*>& names) {
    std::string msg = full_name(desc) + " missing " + std::to_string(names.size()) + " required " +
                      kind + " " + (names.size() == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) {
                msg += ',';
            }
            msg += i == names.size() - 1 ? " and " : " ";
        }
        msg += '\'';
        msg += names[i];
        msg += '\'';
    }
    set_error(PyExc_TypeError, msg);
}

bool name_is(PyObject* name, const char* expected) {
    return PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, expected) == 0;
}

// Places one keyword argument; false with the TypeError set.
bool place_keyword(const FunctionDescription& desc, PyObject* name, PyObject* value,
                   std::size_t positional_given, PyObject** out) {
    const std::size_t npos = desc.positional.size();
    for (std::size_t i = 0; i < desc.keyword_only.size(); ++i) {
        if (name_is(name, desc.keyword_only[i].name)) {
            if (out[npos + i] != nullptr) {
                keyword_error(desc, "got multiple values for argument", name);
                return false;
            }
            out[npos + i] = value;
            return true;
        }
    }
    for (std::size_t i = 0; i < npos; ++i) {
        if (name_is(name, desc.positional[i])) {
            if (out[i] != nullptr || i < positional_given) {
                keyword_error(desc, "got multiple values for argument", name);
                return false;
            }
            out[i] = value;
            return true;
        }
    }
    keyword_error(desc, "got an unexpected keyword argument", name);
    return false;
}

bool check_required(const FunctionDescription& desc, PyObject** out) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < desc.required_positional; ++i) {
        if (out[i] == nullptr) {
            missing.push_back(desc.positional[i]);
        }
    }
    if (!missing.empty()) {
        missing_arguments(desc, "positional", missing);
        return false;
    }
    const std::size_t npos = desc.positional.size();
    for (std::size_t i = 0; i < desc.keyword_only.size(); ++i) {
        if (desc.keyword_only[i].required && out[npos + i] == nullptr) {
            missing.push_back(desc.keyword_only[i].name);
        }
    }
    if (!missing.empty()) {
        missing_arguments(desc, "keyword", missing);
        return false;
    }
    return true;
}

// Fills the positional slots; false with the TypeError set.
bool place_positional(const FunctionDescription& desc, PyObject* const* args, std::size_t nargs,
                      PyObject** out, VarArgs* varargs) {
    const std::size_t npos = desc.positional.size();
    for (std::size_t i = 0; i < npos + desc.keyword_only.size(); ++i) {
        out[i] = nullptr;
    }
    const std::size_t taken = nargs < npos ? nargs : npos;
    for (std::size_t i = 0; i < taken; ++i) {
        out[i] = args[i];
    }
    if (nargs > npos) {
        if (!desc.varargs) {
            too_many_positional(desc, nargs);
            return false;
        }
    }
    if (varargs != nullptr) {
        varargs->items = args + taken;
        varargs->count = nargs - taken;
    }
    return true;
}

}  // namespace

bool parse_fastcall(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, PyObject** out, VarArgs* varargs) {
    const std::size_t nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    // The common call: every positional parameter given, no keyword.
    if (kwnames == nullptr && varargs == nullptr && nargs == desc.positional.size()) {
        for (std::size_t i = 0; i < nargs; ++i) out[i] = args[i];
        for (std::size_t i = 0; i < desc.keyword_only.size(); ++i) out[nargs + i] = nullptr;
        return desc.keyword_only.empty() || check_required(desc, out);
    }
    if (!place_positional(desc, args, nargs, out, varargs)) {
        return false;
    }
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!place_keyword(desc, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], nargs, out)) {
                return false;
            }
        }
    }
    return check_required(desc, out);
}

bool parse_tuple_dict(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                      PyObject** out) {
    const std::size_t nargs = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (!place_positional(desc, &PyTuple_GET_ITEM(args, 0), nargs, out, nullptr)) {
        return false;
    }
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* name;
        PyObject* value;
        while (PyDict_Next(kwargs, &pos, &name, &value)) {
            if (!place_keyword(desc, name, value, nargs, out)) {
                return false;
            }
        }
    }
    return check_required(desc, out);
}

}  // namespace kestrome::py
