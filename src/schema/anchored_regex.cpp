#include "schema/anchored_regex.h"

namespace kestrome {

std::unique_ptr<re2::RE2> compile_anchored_regex(std::string_view pattern, std::string* error) {
    // Default options, except that a bad pattern is reported to the caller
    // instead of being logged to stderr.
    re2::RE2::Options options;
    options.set_log_errors(false);
    auto re = std::make_unique<re2::RE2>(re2::StringPiece(pattern.data(), pattern.size()), options);
    if (!re->ok()) {
        if (error != nullptr) {
            *error = re->error();
        }
        return nullptr;
    }
    return re;
}

}  // namespace kestrome
