// Writing the fact base as TA text that lopwort reads back exactly: ids and
// attribute values are quoted only where lopwort's readers would otherwise
// split, drop or misread them.
#ifndef LOPWORT_FACTS_TAWRITER_H
#define LOPWORT_FACTS_TAWRITER_H

#include "merge.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A word of a fact triple or the id of an attribute record.
std::string ta_word(std::string_view s);
// An attribute value that is one item.
std::string ta_value(const std::string& s);
// The "args" value: a parenthesised list whose words lopwort cuts apart
// again when it runs the command.
std::string ta_args(const std::vector<std::string>& words);

// The whole fact file, handed to sink a piece at a time; source names where
// the facts came from in the heading comment. False when sink refused a
// piece (which ends the writing).
bool write_ta(const CFactBase& base, const std::string& source,
              const std::function<bool(const std::string&)>& sink);

#endif
