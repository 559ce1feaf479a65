// Enrollment merge: the views of a new capture join the template unless
// they add nothing (a repeat of a stored view) or there is no room left.
#pragma once

#include "template_format.h"

namespace fpalg {

enum class MergeResult { merged = 0, bad_input = 1, nothing_new = 2, full = 3 };

MergeResult merge_templates(const Template &a, const Template &b, Template &out);

}  // namespace fpalg
