#include "schema/anchored_regex.h"

#include <memory>
#include <string>
#include <string_view>

namespace kestrome {

std::unique_ptr<regex::Regex> compile_anchored_regex(std::string_view pattern, std::string* error) {
    return regex::Regex::compile(pattern, error);
}

}  // namespace kestrome
