// Readable kind names and error codes of schema nodes.
#pragma once
#include "schema/schema.h"

namespace kestrome {

// Static texts; a Refinement answers with its base.
const char* schema_kind_name(const Schema& node);
const char* schema_error_code(const Schema& node);

}  // namespace kestrome
