#include "schema/lookup_tables.h"

#include "py/str_hash.h"

#include <cstddef>
#include <string>

namespace kestrome {

bool is_last_of_its_name(const FieldNameSet& names, const Schema& record, std::size_t position) {
    const std::string& name = record.fields()[position].name;
    const std::uint64_t* at = names.names.find(name, text_hash(name));
    return at != nullptr && *at == position;
}

FieldNameSet field_name_set_of(const Schema& record) {
    FieldNameSet set;
    std::size_t bytes = 0;
    for (const Field& field : record.fields()) bytes += field.name.size();
    set.names.reserve(record.fields().size(), bytes);
    for (std::size_t i = 0; i < record.fields().size(); ++i) {
        const Field& field = record.fields()[i];
        set.names.insert(field.name, text_hash(field.name), i);
    }
    // A name written twice is its last field's: only that one counts.
    for (std::size_t i = 0; i < record.fields().size(); ++i) {
        const Field& field = record.fields()[i];
        const bool last = is_last_of_its_name(set, record, i);
        set.names_unique = set.names_unique && last;
        if (field.required && last) ++set.required_count;
    }
    return set;
}

}  // namespace kestrome
